// OpenSSL, loaded when the first secure connection is made rather than at
// start-up. Most runs of `orvalind --once` check plain http sites and send no
// mail, and the dynamic loader takes longer binding libssl's and libcrypto's
// symbols than such a run takes for everything else.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

// The functions the TLS channel calls, each bound by its own name.
#define ORVALIN_OPENSSL_FUNCTIONS(X)    \
    X(TLS_client_method)                \
    X(SSL_CTX_new)                      \
    X(SSL_CTX_ctrl)                     \
    X(SSL_CTX_set_default_verify_paths) \
    X(SSL_new)                          \
    X(SSL_free)                         \
    X(SSL_set_bio)                      \
    X(SSL_ctrl)                         \
    X(SSL_set_verify)                   \
    X(SSL_get0_param)                   \
    X(SSL_connect)                      \
    X(SSL_get_error)                    \
    X(SSL_get_verify_result)            \
    X(SSL_write)                        \
    X(SSL_read)                         \
    X(SSL_shutdown)                     \
    X(BIO_get_data)                     \
    X(BIO_set_data)                     \
    X(BIO_set_init)                     \
    X(BIO_set_flags)                    \
    X(BIO_clear_flags)                  \
    X(BIO_get_new_index)                \
    X(BIO_meth_new)                     \
    X(BIO_meth_set_write)               \
    X(BIO_meth_set_read)                \
    X(BIO_meth_set_ctrl)                \
    X(BIO_meth_set_create)              \
    X(BIO_new)                          \
    X(ERR_clear_error)                  \
    X(ERR_peek_last_error)              \
    X(ERR_reason_error_string)          \
    X(X509_VERIFY_PARAM_set_hostflags)  \
    X(X509_VERIFY_PARAM_set1_ip_asc)    \
    X(X509_VERIFY_PARAM_set1_host)      \
    X(X509_verify_cert_error_string)

namespace orvalin {

struct OpenSsl {
#define ORVALIN_OPENSSL_MEMBER(name) decltype(&::name) name = nullptr;
    ORVALIN_OPENSSL_FUNCTIONS(ORVALIN_OPENSSL_MEMBER)
#undef ORVALIN_OPENSSL_MEMBER

    // The library, loaded by the first call from any thread and kept for the
    // life of the process; null when it could not be loaded, with error
    // saying why.
    static const OpenSsl* Load(std::string& error);
};

}  // namespace orvalin
