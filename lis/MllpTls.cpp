// TLS under MLLP with OpenSSL: the only file that knows OpenSSL.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lis/MllpStream.h"

namespace kyvo::lis::detail {

namespace {

std::string opensslErrors() {
    std::string out;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out;
}

bool isAddress(const std::string& name) {
    unsigned char buf[16];
    return inet_pton(AF_INET, name.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

class TTlsStream : public IMllpStream {
  public:
    TTlsStream(int fd, SSL_CTX* ctx, SSL* ssl) : fd_(fd), ctx_(ctx), ssl_(ssl) {}
    ~TTlsStream() override {
        if (ssl_) {
            // A close notify when it fits into the socket at once; nobody waits for its answer.
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        SSL_CTX_free(ctx_);
        ::close(fd_);
    }

    // Drives one OpenSSL call to completion by deadline. op returns the
    // call's result; > 0 is success.
    template <class Op>
    TMllpResult Drive(Op op, Clock::time_point deadline, const char* what, int* done = nullptr) {
        while (true) {
            ERR_clear_error();
            errno = 0;
            const int r = op();
            if (r > 0) {
                if (done) *done = r;
                return Ok();
            }
            const int e = SSL_get_error(ssl_, r);
            short events = 0;
            if (e == SSL_ERROR_WANT_READ)
                events = POLLIN;
            else if (e == SSL_ERROR_WANT_WRITE)
                events = POLLOUT;
            if (events) {
                const int w = WaitFor(fd_, events, deadline);
                if (w == 0)
                    return Outcome(EMllpOutcome::TimedOut,
                                   std::string(what) + ": no answer within the time");
                if (w < 0) return Outcome(EMllpOutcome::Failed, std::strerror(errno));
                continue;
            }
            if (e == SSL_ERROR_ZERO_RETURN)
                return Outcome(EMllpOutcome::Closed,
                               "the LIS closed the connection before it answered");
            if (e == SSL_ERROR_SYSCALL) {
                const int err = errno;
                if (err == 0) return Outcome(EMllpOutcome::Closed, "the LIS closed the connection");
                return Outcome(OutcomeOfErrno(err), std::strerror(err));
            }
            std::string detail = std::string(what) + " failed";
            const long verify = SSL_get_verify_result(ssl_);
            if (verify != X509_V_OK)
                detail += ": " + std::string(X509_verify_cert_error_string(verify));
            else if (const std::string errors = opensslErrors(); !errors.empty())
                detail += ": " + errors;
            return Outcome(EMllpOutcome::Failed, detail);
        }
    }

    TMllpResult WriteAll(std::string_view data, Clock::time_point deadline) override {
        if (data.empty()) return Ok();
        // SSL_write sends all or, after a WANT, must be called again alike.
        return Drive([&] { return SSL_write(ssl_, data.data(), static_cast<int>(data.size())); },
                     deadline, "TLS write");
    }

    TMllpResult ReadSome(std::string& out, Clock::time_point deadline) override {
        char buf[4096];
        int n = 0;
        TMllpResult r =
            Drive([&] { return SSL_read(ssl_, buf, sizeof buf); }, deadline, "TLS read", &n);
        if (r.Outcome == EMllpOutcome::Answered) out.append(buf, static_cast<std::size_t>(n));
        return r;
    }

    SSL* Ssl() { return ssl_; }

  private:
    int fd_;
    SSL_CTX* ctx_;
    SSL* ssl_;
};

}  // namespace

std::unique_ptr<IMllpStream> TlsStream(int fd, const TMllpTls& tls, const std::string& host,
                                       Clock::time_point deadline, TMllpResult* result) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        ::close(fd);
        *result = Outcome(EMllpOutcome::Failed, "TLS: " + opensslErrors());
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (tls.CaFile.empty() ||
        SSL_CTX_load_verify_locations(ctx, tls.CaFile.c_str(), nullptr) != 1) {
        SSL_CTX_free(ctx);
        ::close(fd);
        *result =
            Outcome(EMllpOutcome::Failed, "TLS: the CA file \"" + tls.CaFile + "\" cannot be read");
        ERR_clear_error();
        return nullptr;
    }
    if (!tls.CertFile.empty()) {
        const std::string key = tls.KeyFile.empty() ? tls.CertFile : tls.KeyFile;
        if (SSL_CTX_use_certificate_chain_file(ctx, tls.CertFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx) != 1) {
            SSL_CTX_free(ctx);
            ::close(fd);
            *result = Outcome(EMllpOutcome::Failed, "TLS: the client certificate \"" +
                                                        tls.CertFile + "\" or its key \"" + key +
                                                        "\" cannot be used: " + opensslErrors());
            return nullptr;
        }
    }
    SSL* ssl = SSL_new(ctx);
    const std::string name = tls.ServerName.empty() ? host : tls.ServerName;
    // From here on the stream owns fd, ctx and ssl.
    auto stream = std::make_unique<TTlsStream>(fd, ctx, ssl);
    if (!ssl || SSL_set_fd(ssl, fd) != 1 || SSL_set1_host(ssl, name.c_str()) != 1 ||
        (!isAddress(name) && SSL_set_tlsext_host_name(ssl, name.c_str()) != 1)) {
        *result = Outcome(EMllpOutcome::Failed, "TLS: " + opensslErrors());
        return nullptr;
    }
    *result = stream->Drive([&] { return SSL_connect(ssl); }, deadline, "TLS handshake");
    if (result->Outcome != EMllpOutcome::Answered) return nullptr;
    return stream;
}

}  // namespace kyvo::lis::detail
