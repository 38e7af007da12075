#include "app/MainComponent.h"

// Stub: to be built.
MainComponent::MainComponent()
{
    setSize (450, 600);
}

MainComponent::~MainComponent() = default;

void MainComponent::paint (juce::Graphics&) {}
void MainComponent::resized() {}
void MainComponent::buttonClicked (juce::Button*) {}
void MainComponent::timerCallback() {}
void MainComponent::setPage (int newPage) { page = newPage; }
void MainComponent::showTransactionResult (int) {}
int MainComponent::contactAccountService() { return 0; }
