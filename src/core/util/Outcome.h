#pragma once

#include <utility>
#include <variant>

// Either a value or the error that prevented it.
template <class T, class Error> class Outcome
{
public:
    Outcome(T value)
        : m_data(std::move(value))
    {
    }
    Outcome(Error error)
        : m_data(std::move(error))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_data); }
    const T &value() const { return std::get<T>(m_data); }
    const Error &error() const { return std::get<Error>(m_data); }

private:
    std::variant<T, Error> m_data;
};
