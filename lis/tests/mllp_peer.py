#!/usr/bin/python3
"""A LIS for one message, made of python3-hl7's MLLP server (asyncio):
listens on 127.0.0.1 (a free port, printed as the first line), reads one
framed message as UTF-8, answers it with python3-hl7's own AA
acknowledgement, prints what it read as one JSON line and ends. Gives up
after 20 s. Exit 77 when python3-hl7 is missing."""
import asyncio
import json
import sys

try:
    import hl7
    from hl7.mllp import start_hl7_server
except ImportError:
    print("python3-hl7 is not installed", flush=True)
    sys.exit(77)


async def main():
    done = asyncio.get_running_loop().create_future()

    async def client(reader, writer):
        try:
            msg = await reader.readmessage()
            ack = msg.create_ack("AA", message_id="PEER-1")
            writer.writemessage(ack)
            await writer.drain()
            done.set_result({
                "control_id": msg.extract_field("MSH", 1, 10),
                "type": str(msg.segment("MSH")[9]),
                "comment": msg.extract_field("NTE", 1, 3),
                "value": msg.extract_field("OBX", 1, 5),
            })
        except Exception as e:  # noqa: BLE001
            done.set_result({"error": repr(e)})
        finally:
            writer.close()

    server = await start_hl7_server(client, "127.0.0.1", 0, encoding="utf-8")
    print(server.sockets[0].getsockname()[1], flush=True)
    try:
        print(json.dumps(await asyncio.wait_for(done, 20), ensure_ascii=False), flush=True)
    finally:
        server.close()


asyncio.run(main())
