#pragma once
// The one exception class of the program: every failure travels as an
// Exception carrying a message a user can act on (file name and what went
// wrong). Messages are ANSI code page text, like every internal text.
//
// Failures of the operating system also carry what kind of failure it was
// and the system's own reason, so that callers decide by kind, never by
// looking for words in the message.

#include <stdexcept>
#include <string>

enum class ErrorKind {
    other,
    not_found,   // the file or a folder of its path does not exist
    in_use,      // another program holds the file (a lock, a share mode)
    no_space,    // the disk or the user's quota is full
    permission,  // the file or its folder may not be written (or read)
    damaged,     // the content is not what it must be
    refused,     // the program will not do it (the message says why)
};

class Exception : public std::exception {
public:
    explicit Exception(std::string message, ErrorKind kind = ErrorKind::other, std::string reason = {})
        : message_(std::move(message)), reason_(std::move(reason)), kind_(kind) {}

    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    ErrorKind Kind() const noexcept { return kind_; }
    // The operating system's text for the failure ("No space left on
    // device"); empty when the failure is not the system's.
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::string message_;
    std::string reason_;
    ErrorKind kind_;
};

// An Exception whose message the user has already been shown, in an error
// box: whoever ends the run because of it does not repeat the message.
class ShownException : public Exception {
public:
    using Exception::Exception;
};
