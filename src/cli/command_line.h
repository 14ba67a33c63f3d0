// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's command line: every command and its options on one CLI11 parser, the help each
// command prints (made from its options, so it cannot drift from them), the errors for unknown
// commands and options, and what a command runs with.
//
// A set of commands registers itself with one function, listed in q7ctl.cpp:
//
//   void addThingCommands(CommandLine& cli) {
//       auto& o = cli.keep<ThingOptions>();              // lives as long as the parse
//       CLI::App* c = cli.add("thing", "one line for the list of commands",
//                             "What it does, for its help.\n",
//                             [&o](Invocation& run) { return thing(o, run); });
//       c->add_option("FILE", o.file, "the file to read; - reads standard input")->required();
//       addJsonFlag(c, o.json);
//       cli.usesAmplifier(c);                               // its help lists --simulator etc.
//   }
//
// A sub-command goes under cli.group("thing", "summary"), passed as add()'s parent.
#pragma once

#include "cli/q7ctl.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

// The options given before or after any command.
struct GlobalOptions {
    std::optional<std::string> simulator; // the options text, possibly empty
    std::optional<std::string> replay;
    std::optional<std::string> trace;
    bool verbose = false;
};

// What a command runs with.
struct Invocation {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    const Q7ctlEnvironment& env;
    const GlobalOptions& global;
    std::string command; // its words, "mode load", for messages

    // One line on err ("q7ctl: <message>") and the code.
    int fail(const std::string& message, int code = kExitFailure) const;
    // Bad usage: one line naming the command, exit 2.
    int usage(const std::string& message) const;
};

using CommandRun = std::function<int(Invocation&)>;

class CommandLine {
public:
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // A command; parent null for a top-level one. details is its help's text, lines ended by
    // '\n'.
    CLI::App* add(const std::string& name, const std::string& summary, const std::string& details,
                  CommandRun run, CLI::App* parent = nullptr);
    // A command that holds others ("mode", "eq"); made once, found again by name.
    CLI::App* group(const std::string& name, const std::string& summary);
    // `q7ctl help [COMMAND...]`, last in the list of commands.
    void addHelpCommand();
    // The command's help lists the amplifier options.
    void usesAmplifier(CLI::App* command);

    template <class T> T& keep() {
        auto holder = std::make_shared<T>();
        kept_.push_back(holder);
        return *holder;
    }

    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const Q7ctlEnvironment& env);

    // What `q7ctl help WORDS` and `q7ctl WORDS --help` print.
    std::string help(const CLI::App* command) const;
    // "q7ctl [AMPLIFIER OPTIONS] pull [-o FILE] [--json]", from the command's options.
    std::string usageLine(const CLI::App* command) const;
    // Every command that runs, in the order of the list of commands ("mode load", …).
    std::vector<const CLI::App*> commands() const;
    std::string path(const CLI::App* command) const;

private:
    int dispatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const Q7ctlEnvironment& env);
    struct Info {
        std::string summary, details;
        CommandRun run;
        bool amplifier = false;
    };

    CLI::App root_;
    GlobalOptions global_;
    bool version_ = false;
    std::vector<std::string> helpWords_;
    std::map<const CLI::App*, Info> info_;
    std::vector<std::shared_ptr<void>> kept_;

    const CLI::App* chosen() const;
    const CLI::App* find(const std::vector<std::string>& words, std::string& error) const;
    int unexpected(const CLI::App* at, const std::string& word, bool afterMark,
                   std::ostream& err) const;
    std::string commandList() const;
    std::string optionList(const CLI::App* command, bool positional) const;
};

// Every command of q7ctl (q7ctl.cpp lists the sets).
void addQ7ctlCommands(CommandLine& cli);

// Options many commands share.
CLI::Option* addJsonFlag(CLI::App* command, bool& json, const std::string& what = "");

// The candidate nearest to a mistyped word (a few letters off, or a word it begins), or
// empty when none is near.
std::string nearest(const std::string& word, const std::vector<std::string>& candidates);

// The program's version line and what it is built with.
std::string q7ctlVersionText();

} // namespace q7
