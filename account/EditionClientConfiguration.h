#pragma once

#include <cstdint>
#include <string>

/** Selects one of the four editions of the product line. Editions 0 to 2 share one OAuth client,
    edition 3 has its own; any other value has no client. */
using Edition = std::int32_t;

/** The redirect URI of the edition's OAuth client, or "" for an edition outside 0 to 3. */
[[nodiscard]] std::string getRedirectUri (Edition edition);

/** The OAuth client identifier of the edition's client, or "" for an edition outside 0 to 3. */
[[nodiscard]] std::string getClientId (Edition edition);

/** The OAuth client secret of the edition's client, or "" for an edition outside 0 to 3. */
[[nodiscard]] std::string getClientSecret (Edition edition);
