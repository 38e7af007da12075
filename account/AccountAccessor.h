#pragma once

#include "account/EditionClientConfiguration.h"
#include "platform/UrlSession.h"

#include <optional>
#include <string>

class OCAccessGrantReceiver;

/** The client of the account service's OAuth 2.0 endpoints. One object holds the sign-in state of
    the window. Every operation runs on the message thread and blocks it for the time of the
    exchange.
*/
class AccountAccessor final
{
public:
    /** Creates the access-grant receiver, which writes authorizationCode from now on. */
    AccountAccessor();

    /** Ends the access-grant receiver first, so no redirect can write into a dying object. */
    ~AccountAccessor();

    /** Exchanges authorizationCode for tokens. True when the service answered 200 with a JSON
        object whose "access_token" is a non-empty string; authorized is then true and both tokens
        are stored (a "refresh_token" that is not a string counts as absent). On failure authorized
        is false and the earlier tokens stay.
    */
    [[nodiscard]] bool requestAccessToken();

    /** Fetches the signed-in user's profile with the access token. The reply's body whatever its
        HTTP status (cut at a NUL byte, "" when it is not valid UTF-8); nothing when not authorized
        or when no reply came at all.
    */
    [[nodiscard]] std::optional<std::string> getUserInfo();

    /** Opens the edition's authorization page in the default browser and returns at once. */
    void openAuthorizationPage();

    bool authorized;
    std::string authorizationCode;
    std::string accessToken;
    std::string refreshToken;
    Edition editionIndex;

private:
    /** What the completion of one request stored: the transport error (absent when the exchange
        completed), the response, and the body decoded as UTF-8 (absent when it is not).
    */
    struct Reply
    {
        std::optional<UrlError> error;
        std::optional<HttpUrlResponse> response;
        std::optional<std::string> text;
    };

    /** Runs one request in a session of its own and blocks until its completion has signalled. */
    [[nodiscard]] static Reply sendRequest (const UrlRequest& request);

    /** The receiver this object created and disposes of. */
    OCAccessGrantReceiver* ownReceiver = nullptr;

    AccountAccessor (const AccountAccessor&) = delete;
    AccountAccessor& operator= (const AccountAccessor&) = delete;
};

/** The one access-grant receiver, owned by the AccountAccessor that created it. */
extern OCAccessGrantReceiver* accessGrantReceiver;
