#include "account/EditionClientConfiguration.h"

#include "BuildConfiguration.h"

#include <cstdint>

namespace
{
    struct ClientConfiguration
    {
        const char* redirectUri;
        const char* clientId;
        const char* clientSecret;
    };

    constexpr ClientConfiguration fennixClient { "at-zembrik-2-fennix://oauth2",
                                                 buildconfig::fennixClientId,
                                                 buildconfig::fennixClientSecret };

    constexpr ClientConfiguration teshClient { "at-zembrik-tesh://oauth2",
                                               buildconfig::teshClientId,
                                               buildconfig::teshClientSecret };

    constexpr ClientConfiguration noClient { "", "", "" };

    // Taken as unsigned, so every negative edition lands with the values above 3.
    const ClientConfiguration& clientFor (Edition edition) noexcept
    {
        const auto index = static_cast<std::uint32_t> (edition);

        if (index < 3)
            return fennixClient;

        if (index == 3)
            return teshClient;

        return noClient;
    }
}

std::string getRedirectUri (Edition edition)   { return clientFor (edition).redirectUri; }
std::string getClientId (Edition edition)      { return clientFor (edition).clientId; }
std::string getClientSecret (Edition edition)  { return clientFor (edition).clientSecret; }
