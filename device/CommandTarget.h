#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>

class BaseModule;
class ChannelSelection;

// Where a command of the operator goes: exactly the module the window shows and the channels the
// operator chose on it, or nowhere with the reason the operator reads ("Switch on: no channel
// selected; nothing was sent."). There is no fallback to channel 0, to another module of the same
// serial number or to a choice made on a module the list no longer holds: the choice names its
// module by controller address and slot or base address (moduleKey), and a choice made for
// another module, or for channels the module does not have, chooses nothing.
class CommandTarget
{
    Q_DECLARE_TR_FUNCTIONS(CommandTarget)
public:
    enum class Scope {
        Module,     // the module only (its channels are not asked for)
        Channels,   // at least one chosen channel
        OneChannel, // exactly one chosen channel (the dialogs of one channel's settings)
    };

    // What the window knows when the operator gives a command.
    struct Choice
    {
        QList<BaseModule*> modules; // the session's modules now
        int currentIndex = -1;      // the module the window shows, -1 for none
        QString controllerAddress;  // as it was when the controller connected
        const ChannelSelection* selection = nullptr;
        bool answering = false; // the shown module's latest read answered and is fresh
    };

    BaseModule* module = nullptr; // set when resolved
    QList<int> channels;          // sorted, each once; empty for Scope::Module
    QString refusal;              // why nothing is sent; empty when resolved

    bool resolved() const { return module && refusal.isEmpty(); }

    // `what` names the command ("switch on"). A command that only takes voltage away (switch
    // off, emergency off) still goes to a module that does not answer: it may be heard.
    static CommandTarget resolve(const Choice& choice, Scope scope, const QString& what, bool removesVoltage = false);

    // The name of a module that survives a rediscovery: the controller's address and the
    // module's slot or base address, never its object or serial number.
    static QString moduleKey(const QString& controllerAddress, BaseModule& module);
    // Every channel of the module, whatever its number (the quint32 masks reach only 0..31).
    static QList<int> allChannels(BaseModule& module);
};
