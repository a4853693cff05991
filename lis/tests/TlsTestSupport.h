// A test authority and a TLS LIS of the tests' own (OpenSSL on 127.0.0.1):
// certificates made for the test by the openssl program (KYVO_OPENSSL): a
// test authority, a server certificate for "lis.test" signed by it, and a
// second authority that signed nothing of it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "lis/Mllp.h"
#include "lis/tests/LisTestSupport.h"
#include "lis/tests/TestLis.h"

namespace kyvo::lis::test {

class Certificates {
  public:
    Certificates() : dir_(TempPath("tls")) {
        const std::string openssl = KYVO_OPENSSL;
        if (openssl.find("NOTFOUND") != std::string::npos || access(openssl.c_str(), X_OK) != 0)
            return;
        std::filesystem::create_directories(dir_);
        const std::string o = "'" + openssl + "'";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string d = dir_ + "/";
        const std::string script =
            "cd '" + dir_ + "' && " + o + " req -x509" + ec +
            " -keyout ca.key -out ca.pem -days 2 -subj /CN=KyvoTestCA && " + o + " req -x509" + ec +
            " -keyout other.key -out other.pem -days 2 -subj /CN=OtherCA && " + o + " req" + ec +
            " -keyout srv.key -out srv.csr -subj /CN=lis.test && printf "
            "'subjectAltName=DNS:lis.test\\n' > ext && " +
            o +
            " x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 "
            "-extfile ext";
        ok_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    }
    ~Certificates() { std::filesystem::remove_all(dir_); }
    bool Ok() const { return ok_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
    bool ok_ = false;
};

// Accepts one connection, does the TLS handshake and answers one framed
// message with AA. Blocking calls under socket time-outs.
class TlsLis {
  public:
    explicit TlsLis(const Certificates& certs) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(ctx_, certs.Path("srv.pem").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(ctx_, certs.Path("srv.key").c_str(), SSL_FILETYPE_PEM);
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listen_, 4), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TlsLis() {
        thread_.join();
        ::close(listen_);
        SSL_CTX_free(ctx_);
    }
    std::uint16_t Port() const { return port_; }
    std::string Received() {
        thread_.join();
        thread_ = std::thread([] {});
        return received_;
    }

  private:
    void Serve() {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        const int conn = ::accept(listen_, nullptr, nullptr);
        timeval tv{5, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, conn);
        if (SSL_accept(ssl) == 1) {
            TMllpDeframer d;
            char buf[4096];
            std::optional<std::string> msg;
            for (int i = 0; i < 100 && !msg; ++i) {
                const int n = SSL_read(ssl, buf, sizeof buf);
                if (n <= 0) break;
                d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
                msg = d.Next();
            }
            if (msg) {
                received_ = *msg;
                const std::string reply = MllpFrame(
                    "MSH|^~\\&|LABSYS|LAB|KyvoDataReader||20261211140001+0100||ACK|T1|P|2.5.1\rMSA|"
                    "AA|" +
                    TestLis::ControlIdOf(*msg) + "\r");
                SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
                // Until the client closes.
                SSL_read(ssl, buf, sizeof buf);
            }
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
        ::close(conn);
    }

    SSL_CTX* ctx_ = nullptr;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string received_;
};

}  // namespace kyvo::lis::test
