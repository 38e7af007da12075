#include "account/OCAccessGrantReceiver.h"

#include "account/AccountAccessor.h"
#include "platform/Utf8Text.h"

#include <string_view>

OCAccessGrantReceiver::OCAccessGrantReceiver()
{
    NotificationCenter::defaultCenter().addObserver (this, accessGrantNotificationName,
                                                     [this] (const Notification& notification)
                                                     {
                                                         received (notification);
                                                     });
}

OCAccessGrantReceiver::~OCAccessGrantReceiver()
{
    NotificationCenter::defaultCenter().removeObserver (this);
}

void OCAccessGrantReceiver::setAccessor (AccountAccessor* accessor)
{
    _accessor = accessor;
}

void OCAccessGrantReceiver::received (const Notification& notification)
{
    if (! notification.object.has_value() || _accessor == nullptr)
        return;

    static constexpr std::string_view marker = "://oauth2?code=";

    const std::string_view url = *notification.object;
    const auto position = url.find (marker);

    if (position == std::string_view::npos)
        return;

    // Everything behind the marker, as it stands: further query text and escapes stay in the code.
    if (auto code = decodeUtf8Text (url.substr (position + marker.size())))
        _accessor->authorizationCode = std::move (*code);
}
