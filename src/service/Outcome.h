#pragma once

#include "service/Records.h"

#include <QNetworkReply>
#include <QString>

#include <utility>
#include <variant>

namespace quillpost {

// A failure of the transport itself (no connection, time-out, TLS and the like), described in
// Qt's own (translated) words.
struct TransportError
{
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString message;
    QString description() const { return message; }
};

// Why a request failed. Screens show `description()`; tests and callers that must tell the
// kinds apart use the accessors.
class Failure
{
public:
    Failure(APIError error) : m_error(std::move(error)) {}
    Failure(DecodingError error) : m_error(std::move(error)) {}
    Failure(TransportError error) : m_error(std::move(error)) {}

    QString description() const
    {
        return std::visit([](const auto &error) { return error.description(); }, m_error);
    }

    const APIError *apiError() const { return std::get_if<APIError>(&m_error); }
    // Whether the service refused the request's credentials: the session token is no longer
    // accepted. Every other failure (no connection, a time-out, a server error, an odd reply)
    // says nothing about the token.
    bool rejectsToken() const
    {
        const APIError *error = apiError();
        return error && (error->status == 401 || error->status == 403);
    }
    const DecodingError *decodingError() const { return std::get_if<DecodingError>(&m_error); }
    const TransportError *transportError() const { return std::get_if<TransportError>(&m_error); }

private:
    std::variant<APIError, DecodingError, TransportError> m_error;
};

// The outcome of one request: the decoded record, or the failure.
template<typename Value>
class Outcome
{
public:
    Outcome(Value value) : m_state(std::move(value)) {}
    Outcome(Failure failure) : m_state(std::move(failure)) {}
    Outcome(APIError error) : m_state(Failure(std::move(error))) {}
    Outcome(DecodingError error) : m_state(Failure(std::move(error))) {}
    Outcome(TransportError error) : m_state(Failure(std::move(error))) {}

    bool ok() const { return m_state.index() == 0; }
    const Value &value() const { return std::get<0>(m_state); }
    Value &value() { return std::get<0>(m_state); }
    const Failure &failure() const { return std::get<1>(m_state); }

private:
    std::variant<Value, Failure> m_state;
};

// The send-code request gives nothing back on success.
struct Done
{
};

} // namespace quillpost
