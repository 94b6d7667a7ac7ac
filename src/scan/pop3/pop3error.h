#pragma once

#include <QString>

// The ways an operation of the POP3 client can fail: what FreePOP::ErrorCode() returns.
enum Pop3Error {
    NoError = 0,
    ConnectionFailed = 1,      // bad server name or port, refused, unreachable, greeted with -ERR
    LoginRefused = 2,          // the server refused the login name or the password
    CommandRefused = 3,        // the server answered -ERR (no such message, DELE refused, ...)
    ProtocolError = 4,         // an answer that is not POP3; the connection is dropped
    TimedOut = 5,              // the operation took longer than the time-out; connection dropped
    ConnectionLost = 6,        // the connection ended; every later call fails at once until Connect
    MessageTooLarge = 7,       // larger than Pop3Limits::maxMessageSize; it stays on the server
    LineTooLong = 8,           // a message line longer than Pop3Limits::maxMessageLine; ditto
    FileWriteFailed = 9,       // SaveMessage could not write its file completely
    NoCurrentMessage = 10,     // no message was fetched successfully
    NotConnected = 11,         // no Connect (or it failed, or Disconnect followed)
    BadArgument = 12,          // a message number below 1, or a line break in a login or password
    Busy = 13,                 // called while another operation of the client was waiting
    Interrupted = 14,          // the application quit while an operation waited; connection dropped
    TlsHandshakeFailed = 15,   // no encrypted connection came about (not TLS, cut off, ...)
    CertificateUntrusted = 16, // the server's certificate is not trusted, or not valid
    HostNameMismatch = 17,     // the certificate is valid but made out to another server
    StlsRefused = 18,          // the server offered STLS and then refused it
    EncryptionMissing = 19,    // no STLS where it was required or had been offered before
    SignInNeeded = 20,         // an OAuth 2.0 account has no usable sign-in: sign in again
};

// A failed step: why, in a code and in words.
struct Pop3Failure {
    Pop3Error error = NoError;
    QString text;

    bool failed() const { return error != NoError; }
};
