#include "account/AccountAccessor.h"

#include "account/OCAccessGrantReceiver.h"
#include "account/ReplyJson.h"
#include "platform/Utf8Text.h"

#include "BuildConfiguration.h"

#include <juce_core/juce_core.h>

#include <limits>
#include <semaphore>

OCAccessGrantReceiver* accessGrantReceiver = nullptr;

namespace
{
    constexpr double requestTimeoutSeconds = 20.0;        // without any data
    constexpr double requestTotalTimeoutSeconds = 60.0;   // in all, so a trickling reply ends too

    UrlRequest prepareRequest (const std::string& method, const std::string& path,
                               const std::vector<std::pair<std::string, std::string>>& fields)
    {
        UrlRequest request;
        request.url = std::string ("https://") + buildconfig::accountHost + path;
        request.httpMethod = method;
        request.timeoutInterval = requestTimeoutSeconds;
        request.totalTimeoutInterval = requestTotalTimeoutSeconds;
        request.cachePolicy = UrlCachePolicy::reloadIgnoringLocalCacheData;

        for (const auto& [field, value] : fields)
            request.setValueForHttpHeaderField (value, field);

        return request;
    }

    juce::String toJuceString (const std::string& utf8)
    {
        if (utf8.size() > static_cast<size_t> (std::numeric_limits<int>::max()))
            return {};

        return juce::String::fromUTF8 (utf8.data(), static_cast<int> (utf8.size()));
    }

    std::string toUtf8 (const juce::String& text)
    {
        return text.toStdString();
    }

    // Only the percent-encoding of the address: letters, digits and these pass as they are.
    juce::String escapeQueryComponent (const juce::String& component)
    {
        static constexpr const char* hexDigits = "0123456789ABCDEF";
        const auto utf8 = component.toStdString();
        std::string escaped;

        for (const auto c : utf8)
        {
            const auto byte = static_cast<unsigned char> (c);
            const bool passes = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
                             || (byte >= '0' && byte <= '9')
                             || std::string_view ("_-.*!'()").find (c) != std::string_view::npos;

            if (passes)
            {
                escaped += c;
            }
            else
            {
                escaped += '%';
                escaped += hexDigits[byte >> 4];
                escaped += hexDigits[byte & 15];
            }
        }

        return toJuceString (escaped);
    }
}

//==================================================================================================
AccountAccessor::AccountAccessor()
    : authorized (false),
      editionIndex (0)
{
    ownReceiver = new OCAccessGrantReceiver();
    accessGrantReceiver = ownReceiver;
    ownReceiver->setAccessor (this);
}

AccountAccessor::~AccountAccessor()
{
    // The receiver goes first, so no redirect can write into this object while it is torn down.
    // It is the one this object made: the global may by now name a later account client's.
    delete ownReceiver;
}

//==================================================================================================
bool AccountAccessor::requestAccessToken()
{
    authorized = false;

    const auto clientId = getClientId (editionIndex);
    const auto clientSecret = getClientSecret (editionIndex);
    const auto redirectUri = getRedirectUri (editionIndex);

    // The values go in as they stand; the service expects them unescaped.
    auto request = prepareRequest ("POST", "/oauth/token",
                                   { { "Content-Type", "application/x-www-form-urlencoded" } });
    request.httpBody = "grant_type=authorization_code&client_id=" + clientId
                     + "&client_secret=" + clientSecret
                     + "&redirect_uri=" + redirectUri
                     + "&code=" + authorizationCode;

    const auto reply = sendRequest (request);

    if (reply.error.has_value() || ! reply.response.has_value())
        return false;

    if (reply.response->statusCode != 200)
        return false;

    juce::var parsed;

    if (parseReplyJson (reply.text.value_or (std::string()), parsed).failed())
        return false;

    // A reply without an access token grants nothing, whatever its status said. Only a string is a
    // token: any other value would be sent on as the framework's text form of it.
    const auto newAccessToken = parsed.getProperty ("access_token", {});

    if (! newAccessToken.isString() || newAccessToken.toString().isEmpty())
        return false;

    const auto newRefreshToken = parsed.getProperty ("refresh_token", {});

    accessToken = toUtf8 (newAccessToken.toString());
    refreshToken = newRefreshToken.isString() ? toUtf8 (newRefreshToken.toString()) : std::string();
    authorized = true;
    return true;
}

std::optional<std::string> AccountAccessor::getUserInfo()
{
    if (! authorized)
        return std::nullopt;

    const auto request = prepareRequest ("GET", "/api/user",
                                         { { "Content-Type", "application/x-www-form-urlencoded" },
                                           { "Accept", "application/json" },
                                           { "Authorization", "Bearer " + accessToken } });

    const auto reply = sendRequest (request);

    if (reply.error.has_value())
        return std::nullopt;

    return reply.text.value_or (std::string());
}

void AccountAccessor::openAuthorizationPage()
{
    const auto address = std::string ("https://") + buildconfig::accountHost + "/oauth/authorize?client_id="
                       + getClientId (editionIndex)
                       + "&scope=profile&redirect_uri="
                       + getRedirectUri (editionIndex)
                       + "&response_type=code";

    // The framework's URL takes the query apart into names and values; it is written out again
    // here so that each name keeps its "=" even with an empty value, which the framework drops.
    const juce::URL parsed (toJuceString (address));
    const auto& names = parsed.getParameterNames();
    const auto& values = parsed.getParameterValues();

    juce::String query;

    for (int i = 0; i < names.size(); ++i)
        query << (i > 0 ? "&" : "") << escapeQueryComponent (names[i]) << "=" << escapeQueryComponent (values[i]);

    const auto target = query.isEmpty() ? parsed.toString (false) : parsed.toString (false) + "?" + query;
    [[maybe_unused]] const auto launched = juce::URL::createWithoutParsing (target).launchInDefaultBrowser();
}

//==================================================================================================
AccountAccessor::Reply AccountAccessor::sendRequest (const UrlRequest& request)
{
    std::counting_semaphore<> done (0);
    Reply reply;

    auto session = UrlSession::ephemeral();
    session->startDataTask (request, [&reply, &done] (std::optional<std::string> data,
                                                      std::optional<HttpUrlResponse> response,
                                                      std::optional<UrlError> error)
    {
        reply.error = std::move (error);
        reply.response = std::move (response);
        reply.text = data.has_value() ? decodeUtf8Text (*data) : std::nullopt;
        done.release();
    });

    // No limit of its own: the request's time-outs bound the wait.
    done.acquire();
    return reply;
}
