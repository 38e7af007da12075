#include "account/AccountAccessor.h"

// Stub: to be built.
OCAccessGrantReceiver* accessGrantReceiver = nullptr;

AccountAccessor::AccountAccessor() : authorized (false), editionIndex (0) {}
AccountAccessor::~AccountAccessor() = default;
bool AccountAccessor::requestAccessToken() { return false; }
std::optional<std::string> AccountAccessor::getUserInfo() { return std::nullopt; }
void AccountAccessor::openAuthorizationPage() {}
