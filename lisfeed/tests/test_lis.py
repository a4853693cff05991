#!/usr/bin/python3
"""A LIS for the tests and the benchmark, made of python3-hl7's MLLP server
(asyncio): listens on 127.0.0.1 (--port, 0: a free one, printed as the
first line), reads framed messages as UTF-8 on any number of connections,
appends what it read to --log as one JSON line per message (written and
flushed before it answers) and answers each as --answer says, the n-th
message the n-th mode, the last mode for every message after:

  AA, AE:TEXT, AR:TEXT  an acknowledgement with that code (and MSA-3 text)
  silent                no answer; the connection stays open
  close                 the connection is closed without an answer
  wrong                 AA for another message (MSA-2 of none sent)
  slow                  AA after 1.5 s

Runs until it is ended by a signal. Exit 77 when python3-hl7 is missing."""
import argparse
import asyncio
import json
import signal
import sys

try:
    import hl7
    from hl7.mllp import start_hl7_server
except ImportError:
    print("python3-hl7 is not installed", flush=True)
    sys.exit(77)


def field(msg, seg, n, f, comp=1):
    try:
        return msg.extract_field(seg, n, f, 1, comp)
    except Exception:  # noqa: BLE001
        return ""


def describe(msg):
    out = {
        "control_id": field(msg, "MSH", 1, 10),
        "type": field(msg, "MSH", 1, 9) + "^" + field(msg, "MSH", 1, 9, 2),
        "processing_id": field(msg, "MSH", 1, 11),
        "charset": field(msg, "MSH", 1, 18),
        "patient": "",
        "filler": field(msg, "OBR", 1, 3),
        "obx": [],
        "nte": [],
    }
    segs = [str(s[0]) for s in msg]
    out["segments"] = segs
    if "PID" in segs:
        out["patient"] = field(msg, "PID", 1, 3)
    for i in range(1, segs.count("OBX") + 1):
        out["obx"].append({
            "type": field(msg, "OBX", i, 2),
            "code": field(msg, "OBX", i, 3),
            "value": field(msg, "OBX", i, 5),
            "unit": field(msg, "OBX", i, 6),
            "status": field(msg, "OBX", i, 11),
        })
    for i in range(1, segs.count("NTE") + 1):
        out["nte"].append(field(msg, "NTE", i, 3))
    return out


def ack(msg, code, text="", control_id=None):
    cid = control_id if control_id is not None else field(msg, "MSH", 1, 10)
    esc = msg.escape(text) if text else ""
    return hl7.parse("MSH|^~\\&|TESTLIS|LAB|||20261211120000+0100||ACK^R01^ACK|T%s|P|2.5.1\r"
                     "MSA|%s|%s|%s" % (cid, code, cid, esc))


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--answer", default="AA")
    p.add_argument("--log", required=True)
    a = p.parse_args()
    modes = a.answer.split(",")
    count = 0
    log = open(a.log, "a", encoding="utf-8")

    async def client(reader, writer):
        nonlocal count
        try:
            while True:
                msg = await reader.readmessage()
                mode = modes[min(count, len(modes) - 1)]
                count += 1
                log.write(json.dumps(describe(msg), ensure_ascii=False) + "\n")
                log.flush()
                code, _, text = mode.partition(":")
                if code == "silent":
                    await asyncio.sleep(3600)
                    return
                if code == "close":
                    return
                if code == "slow":
                    await asyncio.sleep(1.5)
                    code = "AA"
                if code == "wrong":
                    writer.writemessage(ack(msg, "AA", control_id="KDR-0-0"))
                else:
                    writer.writemessage(ack(msg, code, text))
                await writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError):
            pass
        finally:
            writer.close()

    server = await start_hl7_server(client, "127.0.0.1", a.port, encoding="utf-8")
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.get_running_loop().create_future()
    for s in (signal.SIGTERM, signal.SIGINT):
        asyncio.get_running_loop().add_signal_handler(s, stop.set_result, None)
    await stop
    server.close()


asyncio.run(main())
