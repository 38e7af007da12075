#include "app/InstanceHandOff.h"
#include "app/QuillaneAuthorizerApplication.h"
#include "platform/InstanceChannel.h"

#include <iostream>
#include <optional>

static juce::JUCEApplicationBase* createApplication()
{
    return new QuillaneAuthorizerApplication();
}

int main (int argc, char* argv[])
{
    const auto launch = messageForLaunch (std::vector<std::string> (argv + (argc > 0 ? 1 : 0), argv + argc));
    std::optional<InstanceChannel> channel;

    if (const auto folder = InstanceChannel::findDefaultChannelFolder())
    {
        channel.emplace (*folder);

        // The running instance would drop such a message, and no retry changes that; the first
        // launch still becomes the instance.
        using Outcome = InstanceChannel::Outcome;
        const auto outcome = launch.message ? channel->claimOrHandOff (*launch.message)
                                            : (channel->claim() ? Outcome::becameInstance : Outcome::failed);

        if (outcome == Outcome::handedOff)
            return 0;

        if (outcome == Outcome::failed)
        {
            // The folder cannot hold the lock file or socket: no instance is to blame, and no
            // retry helps.
            if (! channel->getProblem().empty())
            {
                std::cerr << "Zembrik Authorizer " << channel->getProblem() << std::endl;
                return 3;
            }

            if (! launch.message)
            {
                std::cerr << "Zembrik Authorizer: " << launch.problem << std::endl;
                return 2;
            }

            std::cerr << "Zembrik Authorizer could not reach its running instance in time, so this "
                         "launch was not delivered. Please try again." << std::endl;
            return 1;
        }
    }
    else
    {
        std::cerr << "Zembrik Authorizer: no private folder for its instance channel; "
                     "later launches cannot reach this one." << std::endl;
    }

    int status = 0;

    {
        // The message manager must exist before the channel's thread posts to it; the framework's
        // main re-uses this initialisation, and the posted messages wait until its loop runs,
        // after initialise.
        juce::ScopedJuceInitialiser_GUI framework;

        if (launch.message && launch.message->kind == InstanceChannel::Message::Kind::url)
            juce::MessageManager::callAsync ([url = *launch.message] { deliverToApplication (url); });

        if (channel)
            channel->startListening (&deliverToApplication);

        juce::JUCEApplicationBase::createInstance = &createApplication;
        status = juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));

        // Nothing may be posted once the message manager is gone.
        if (channel)
            channel->stopListening();
    }

    return status;
}
