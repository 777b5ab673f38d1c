#pragma once

#include "error.h"

#include <QString>

// What a call threw: the Error's number and message, or number 0 and an empty message
// when it threw none.
struct Caught
{
    int number = 0;
    QString message;
    bool threw() const { return number != 0 || !message.isEmpty(); }
};

template <typename F> Caught errorOf(F call)
{
    try {
        call();
    } catch (const Error &error) {
        return {error.number(), error.message()};
    }
    return {};
}

// The message of the Error that `call` throws, or an empty text when it throws none.
template <typename F> QString errorMessageOf(F call)
{
    return errorOf(call).message;
}
