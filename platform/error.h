#pragma once

#include <QString>

#include <optional>
#include <stdexcept>

// An error that ends the operation in progress and reaches the user as a message.
// The number keeps the classic error numbers where a caller may test them
// (5: the image could not be saved).
class Error : public std::runtime_error
{
public:
    Error(int number, const QString &message)
        : std::runtime_error(message.toStdString()), m_number(number), m_message(message)
    {
    }

    int number() const { return m_number; }
    QString message() const { return m_message; }

private:
    int m_number;
    QString m_message;
};

// Runs `work`; the message of the error it ends with, or nothing when it succeeds.
template <typename Work> std::optional<QString> failureOf(Work &&work)
{
    try {
        work();
    } catch (const Error &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
    return std::nullopt;
}
