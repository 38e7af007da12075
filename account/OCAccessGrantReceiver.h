#pragma once

#include "platform/NotificationCenter.h"

class AccountAccessor;

/** Name of the notification that carries a redirect URL from the GetURL handler to the receiver. */
inline constexpr const char* accessGrantNotificationName = "OZAccessGrantReceived";

/** Observes the access-grant notification and copies the authorization code out of the redirect
    URL into its account client. Created and destroyed by that AccountAccessor only.
*/
class OCAccessGrantReceiver final
{
public:
    /** Starts observing the access-grant notification. */
    OCAccessGrantReceiver();

    /** Stops observing before anything else is torn down. */
    ~OCAccessGrantReceiver();

    /** The account client whose authorizationCode receives the code; not owned. */
    void setAccessor (AccountAccessor* accessor);

    /** Takes everything behind the first "://oauth2?code=" of the notification's URL. Called on
        the posting thread, the message thread.
    */
    void received (const Notification& notification);

private:
    AccountAccessor* _accessor = nullptr;

    OCAccessGrantReceiver (const OCAccessGrantReceiver&) = delete;
    OCAccessGrantReceiver& operator= (const OCAccessGrantReceiver&) = delete;
};
