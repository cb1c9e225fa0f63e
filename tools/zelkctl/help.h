// The commands and options of zelkctl, each described once: the parser takes its options
// from the same table that the help texts are made from, and refuses an option on a
// command that does not use it.
#pragma once

#include <string>

#include "tools/zelkctl/request.h"

constexpr unsigned Bit(Command command) {
    return 1u << static_cast<unsigned>(command);
}

struct OptionRow {
    const char* names;  // "p,port": the short and long names, or the long name alone
    const char* value;  // the value's name in the help, "PORT"; nullptr for a switch
    unsigned commands;  // the commands that take it, as Bit()s
    const char* help;   // "{series}", "{rates}" and "{formats}" stand for those lists
};

struct CommandRow {
    Command command;
    const char* name;
    const char* arguments;  // what follows the command name in its usage line
    const char* summary;    // one line, for the list of commands
    const char* details;    // the paragraph of `zelkctl help COMMAND`
};

constexpr std::size_t kOptionCount = 17;
extern const OptionRow kOptions[kOptionCount];
constexpr std::size_t kCommandCount = 7;
extern const CommandRow kCommands[kCommandCount];

// The help of zelkctl, or of one command.
std::string GeneralHelp();
std::string CommandHelp(const CommandRow& command);
