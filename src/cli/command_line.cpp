// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <hidapi.h>

#ifndef Q7_VERSION
#define Q7_VERSION "unknown"
#endif

namespace q7 {

namespace {

constexpr const char* kExitStatus =
    "exit status: 0 success; 1 failure at run time (the amplifier, a file, input or output);\n"
    "2 bad usage; 3 the amplifier does not answer or its replies are lost.\n";

// Options that are not the help flag.
std::vector<const CLI::Option*> ownOptions(const CLI::App* command, bool positional) {
    std::vector<const CLI::Option*> out;
    for (const CLI::Option* o : command->get_options())
        if (o != command->get_help_ptr() && o->get_positional() == !o->nonpositional() &&
            o->nonpositional() != positional)
            out.push_back(o);
    return out;
}

// "-o FILE", "--json", "--simulator[=OPTIONS]": the first name as typed, and its value.
std::string optionUsage(const CLI::Option* o) {
    std::string name;
    if (!o->get_snames().empty())
        name = "-" + o->get_snames().front();
    else if (!o->get_lnames().empty())
        name = "--" + o->get_lnames().front();
    const std::string value = o->get_type_name();
    if (o->get_items_expected_max() == 0) // a flag; one with a value type takes "=VALUE"
        return value.empty() ? name : name + "[=" + value + "]";
    return name + " " + value;
}

std::string optionNames(const CLI::Option* o) {
    std::string s;
    for (const std::string& n : o->get_snames())
        s += (s.empty() ? "-" : ", -") + n;
    for (const std::string& n : o->get_lnames())
        s += (s.empty() ? "--" : ", --") + n;
    const std::string value = o->get_type_name();
    if (o->get_items_expected_max() == 0)
        return value.empty() ? s : s + "[=" + value + "]";
    return s + " " + value;
}

std::string positionalUsage(const CLI::Option* o) {
    std::string s = o->get_name(true);
    if (o->get_items_expected_max() > 1)
        s += "...";
    return o->get_required() ? s : "[" + s + "]";
}

// Rows of a name and its text, the texts in one column wrapped at 80.
std::string table(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::size_t width = 0;
    for (const auto& r : rows)
        width = std::max(width, r.first.size());
    width = std::min<std::size_t>(width, 24);
    std::string s;
    for (const auto& [name, text] : rows) {
        std::string line = "  " + name;
        if (line.size() > width + 2) {
            s += line + "\n";
            line.clear();
        }
        line.resize(width + 4, ' ');
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find(' ', at);
            if (end == std::string::npos)
                end = text.size();
            const std::string word = text.substr(at, end - at);
            if (line.size() > width + 4 && line.size() + 1 + word.size() > 80) {
                s += line + "\n";
                line = std::string(width + 4, ' ');
            } else if (line.size() > width + 4) {
                line += ' ';
            }
            line += word;
            at = end + 1;
        }
        s += line + "\n";
    }
    return s;
}

// Each line of text wrapped at 80 columns, continued at its own indent.
std::string paragraphs(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
        std::vector<std::string> words;
        for (std::size_t w = indent; w < line.size();) {
            std::size_t e = line.find(' ', w);
            if (e == std::string::npos)
                e = line.size();
            if (e > w)
                words.push_back(line.substr(w, e - w));
            w = e + 1;
        }
        std::string row(indent, ' ');
        for (const std::string& w : words) {
            if (row.size() > indent && row.size() + 1 + w.size() > 80) {
                out += row + "\n";
                row = std::string(indent, ' ');
            } else if (row.size() > indent) {
                row += ' ';
            }
            row += w;
        }
        out += row + "\n";
        at = end + 1;
    }
    return out;
}

// Lines no wider than 80 columns, continued with indent.
std::string wrap(const std::vector<std::string>& words, std::size_t indent) {
    std::string out, line;
    for (const std::string& w : words) {
        if (!line.empty() && line.size() + 1 + w.size() > 80) {
            out += line + "\n";
            line = std::string(indent, ' ');
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
        line += w;
    }
    return out + line + "\n";
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool isNumber(const std::string& s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Looks like an option: not "-" (standard input or output) and not a negative number.
bool looksLikeOption(const std::string& s) {
    return s.size() > 1 && s[0] == '-' && !isNumber(s);
}

std::vector<std::string> optionSpellings(const CLI::App* command) {
    std::vector<std::string> out;
    for (const CLI::Option* o : command->get_options()) {
        for (const std::string& n : o->get_snames())
            out.push_back("-" + n);
        for (const std::string& n : o->get_lnames())
            out.push_back("--" + n);
    }
    return out;
}

std::vector<std::string> subcommandNames(const CLI::App* command) {
    std::vector<std::string> out;
    for (const CLI::App* s : command->get_subcommands([](const CLI::App*) { return true; }))
        out.push_back(s->get_name());
    return out;
}

} // namespace

int Invocation::fail(const std::string& message, int code) const {
    err << "q7ctl: " << message << "\n";
    return code;
}

int Invocation::usage(const std::string& message) const {
    err << "q7ctl: " << command << ": " << message << "; q7ctl help " << command
        << " describes it\n";
    return kExitUsage;
}

std::string nearest(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
    for (const std::string& c : candidates) {
        if (c == word)
            continue;
        if (word.size() >= 2 && c.starts_with(word))
            return c;
        const std::size_t d = editDistance(word, c);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    return best;
}

std::string q7ctlVersionText() {
    std::string s = "q7ctl " Q7_VERSION "\n";
    s += "Copyright (C) 2026 The q7edit developers\n";
    s += "License GPL-3.0-or-later: GNU GPL version 3 or later "
         "<https://gnu.org/licenses/gpl.html>.\n"
         "This is free software: you are free to change and redistribute it.\n"
         "There is NO WARRANTY, to the extent permitted by law.\n";
    s += "hidapi " + std::string(hid_version_str()) + ", CLI11 " CLI11_VERSION "\n";
    return s;
}

CommandLine::CommandLine() : root_("", "q7ctl") {
    root_.fallthrough();
    root_.allow_extras();
    root_.set_help_flag("-h,--help", "print this help");
    root_
        .add_flag("--simulator{}", global_.simulator,
                  "the built-in simulated amplifier instead of the one on USB")
        ->type_name("OPTIONS");
    root_
        .add_option("--replay", global_.replay,
                    "a recorded trace plays the amplifier (- standard input)")
        ->type_name("TRACE");
    root_
        .add_option("--trace", global_.trace,
                    "record every report sent and received (- standard output)")
        ->type_name("FILE");
    root_.add_flag("-v,--verbose", global_.verbose, "the link's debug log on standard error");
    root_.add_flag("--version", version_, "print the version and the licence");
}

void CommandLine::addHelpCommand() {
    // Run before the parser sees it (run()); here for the list of commands and its own help.
    CLI::App* help = add("help", "describe a command",
                         "Describes the command (q7ctl help mode diff), or lists every command.\n",
                         [](Invocation&) { return kExitOk; });
    help->add_option("COMMAND", helpWords_, "the command's words")->expected(0, -1);
}

CLI::App* CommandLine::add(const std::string& name, const std::string& summary,
                           const std::string& details, CommandRun run, CLI::App* parent) {
    CLI::App* c = (parent ? parent : &root_)->add_subcommand(name, summary);
    c->fallthrough();
    c->allow_extras();
    c->set_help_flag("-h,--help", "print this help");
    info_[c] = Info{summary, details, std::move(run), false};
    return c;
}

CLI::App* CommandLine::group(const std::string& name, const std::string& summary) {
    for (CLI::App* s : root_.get_subcommands([](CLI::App*) { return true; }))
        if (s->get_name() == name)
            return s;
    return add(name, summary, "", nullptr);
}

void CommandLine::usesAmplifier(CLI::App* command) {
    info_[command].amplifier = true;
}

std::string CommandLine::path(const CLI::App* command) const {
    std::string p;
    for (const CLI::App* c = command; c && c != &root_; c = c->get_parent())
        p = c->get_name() + (p.empty() ? "" : " " + p);
    return p;
}

std::vector<const CLI::App*> CommandLine::commands() const {
    std::vector<const CLI::App*> out;
    for (const CLI::App* c : root_.get_subcommands([](const CLI::App*) { return true; })) {
        const auto inner = c->get_subcommands([](const CLI::App*) { return true; });
        if (inner.empty())
            out.push_back(c);
        out.insert(out.end(), inner.begin(), inner.end());
    }
    return out;
}

std::string CommandLine::usageLine(const CLI::App* command) const {
    std::vector<std::string> words{"usage:", "q7ctl"};
    const auto i = info_.find(command);
    if (i != info_.end() && i->second.amplifier)
        words.push_back("[AMPLIFIER OPTIONS]");
    words.push_back(path(command));
    const auto inner = command->get_subcommands([](const CLI::App*) { return true; });
    if (!inner.empty())
        words.push_back("COMMAND ...");
    for (const CLI::Option* o : ownOptions(command, true))
        words.push_back(positionalUsage(o));
    // Options that exclude each other share one pair of brackets: [--guest-pin PIN | --guest-open].
    const CLI::Option* last = nullptr;
    for (const CLI::Option* o : ownOptions(command, false)) {
        if (last && !o->get_required() && o->get_excludes().count(const_cast<CLI::Option*>(last))) {
            words.back().insert(words.back().size() - 1, " | " + optionUsage(o));
        } else {
            words.push_back(o->get_required() ? optionUsage(o) : "[" + optionUsage(o) + "]");
        }
        last = o;
    }
    return wrap(words, 8);
}

std::string CommandLine::optionList(const CLI::App* command, bool positional) const {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const CLI::Option* o : ownOptions(command, positional))
        rows.emplace_back(positional ? o->get_name(true) : optionNames(o), o->get_description());
    if (!positional && command->get_help_ptr())
        rows.emplace_back(optionNames(command->get_help_ptr()),
                          command->get_help_ptr()->get_description());
    return table(rows);
}

std::string CommandLine::commandList() const {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const CLI::App* c : commands())
        rows.emplace_back(path(c), c->get_description());
    return table(rows);
}

std::string CommandLine::help(const CLI::App* command) const {
    if (command == &root_) {
        std::string s = "usage: q7ctl [OPTIONS] COMMAND [ARGUMENTS]\n"
                        "Talks to the Q7 DSP effects amplifier on USB and works on its mode "
                        "files.\n\ncommands:\n";
        s += commandList();
        s += "\noptions:\n" + optionList(&root_, false);
        s += "\nq7ctl help COMMAND (or q7ctl COMMAND --help) describes a command. A file named -\n"
             "is standard input or output; -- ends the options.\n";
        return s + kExitStatus;
    }
    const auto i = info_.find(command);
    std::string s;
    const auto inner = command->get_subcommands([](const CLI::App*) { return true; });
    if (!inner.empty()) {
        for (const CLI::App* c : inner)
            s += usageLine(c);
        s += "\n" + command->get_description() + ":\n";
        std::vector<std::pair<std::string, std::string>> rows;
        for (const CLI::App* c : inner)
            rows.emplace_back(c->get_name(), c->get_description());
        s += table(rows);
        s += "\nq7ctl help " + path(command) + " COMMAND describes one.\n";
        return s;
    }
    s = usageLine(command);
    if (i != info_.end() && !i->second.details.empty())
        s += paragraphs(i->second.details);
    if (!ownOptions(command, true).empty())
        s += "\narguments:\n" + optionList(command, true);
    s += "\noptions:\n" + optionList(command, false);
    if (i != info_.end() && i->second.amplifier) {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const CLI::Option* o : ownOptions(&root_, false))
            if (o->get_lnames() != std::vector<std::string>{"version"})
                rows.emplace_back(optionNames(o), o->get_description());
        s += "\namplifier options (before or after the command):\n" + table(rows);
    }
    return s;
}

const CLI::App* CommandLine::chosen() const {
    const CLI::App* c = &root_;
    for (auto subs = c->get_subcommands(); !subs.empty(); subs = c->get_subcommands())
        c = subs.front();
    return c;
}

const CLI::App* CommandLine::find(const std::vector<std::string>& words, std::string& error) const {
    const CLI::App* c = &root_;
    for (const std::string& w : words) {
        const CLI::App* next = nullptr;
        for (const CLI::App* s : c->get_subcommands([](const CLI::App*) { return true; }))
            if (s->get_name() == w)
                next = s;
        if (!next) {
            const std::string p = path(c);
            const std::string near = nearest(w, subcommandNames(c));
            error = "unknown command " + (p.empty() ? "" : p + " ") + w;
            if (!near.empty())
                error += "; did you mean " + (p.empty() ? "" : p + " ") + near + "?";
            error += " (q7ctl help " + (p.empty() ? "" : p + " ") + "lists the commands)";
            return nullptr;
        }
        c = next;
    }
    return c;
}

int CommandLine::unexpected(const CLI::App* at, const std::string& word, bool afterMark,
                            std::ostream& err) const {
    const std::string p = path(at);
    if (looksLikeOption(word) && !afterMark) {
        const std::string name = word.substr(0, word.find('='));
        std::vector<std::string> known = optionSpellings(at);
        for (const std::string& g : optionSpellings(&root_))
            known.push_back(g);
        const std::string near = nearest(name, known);
        err << "q7ctl: unknown option " << name << (p.empty() ? "" : " for " + p);
        if (!near.empty())
            err << "; did you mean " << near << "?";
        err << " (q7ctl help " << p << (p.empty() ? "" : " ") << "lists the options)\n";
        return kExitUsage;
    }
    if (!at->get_subcommands([](const CLI::App*) { return true; }).empty() && !afterMark) {
        std::vector<std::string> words;
        for (const CLI::App* c = at; c && c != &root_; c = c->get_parent())
            words.insert(words.begin(), c->get_name());
        words.push_back(word);
        std::string error;
        find(words, error);
        err << "q7ctl: " << error << "\n";
        return kExitUsage;
    }
    err << "q7ctl: " << (p.empty() ? "" : p + ": ") << "unexpected argument " << word
        << (afterMark ? " (after --, every word is an argument)" : "") << "; q7ctl help " << p
        << (p.empty() ? "" : " ") << "describes it\n";
    return kExitUsage;
}

int CommandLine::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const Q7ctlEnvironment& env) {
    int code = dispatch(args, out, err, env);
    // Output that never arrived (a full disk, /dev/full, a closed pipe) is no success.
    errno = 0;
    out.flush();
    if (!out) {
        const int e = errno;
        err << "q7ctl: cannot write standard output"
            << (e ? std::string(": ") + std::strerror(e) : std::string()) << "\n";
        if (code == kExitOk)
            code = kExitFailure;
    }
    return code;
}

int CommandLine::dispatch(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err, const Q7ctlEnvironment& env) {
    // help takes command words, which CLI11 would take for the commands themselves.
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--replay" || args[i] == "--trace") {
            ++i;
            continue;
        }
        if (looksLikeOption(args[i]))
            continue;
        if (args[i] != "help")
            break;
        std::vector<std::string> words;
        for (std::size_t k = i + 1; k < args.size(); ++k)
            if (args[k] == "-h" || args[k] == "--help")
                words = {"help"}; // help's own help
            else if (!looksLikeOption(args[k]))
                words.push_back(args[k]);
        std::string error;
        const CLI::App* c = find(words, error);
        if (!c) {
            err << "q7ctl: " << error << "\n";
            return kExitUsage;
        }
        out << help(c);
        return kExitOk;
    }
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        root_.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << help(chosen());
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        out << help(&root_);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        const CLI::App* c = chosen();
        const std::string p = path(c);
        std::string what = e.what();
        if (what == "A subcommand is required")
            what = "needs a command";
        err << "q7ctl: " << (p.empty() ? "" : p + ": ") << what << "; q7ctl help " << p
            << (p.empty() ? "" : " ") << "describes it\n";
        return kExitUsage;
    }
    const CLI::App* c = chosen();
    // With fallthrough, whatever no command took ends at the top.
    std::vector<std::string> rest = root_.remaining();
    for (const CLI::App* s = c; s && s != &root_; s = s->get_parent())
        for (const std::string& r : s->remaining())
            rest.push_back(r);
    // "--" ends the options; CLI11 leaves it among the rest.
    const auto mark = std::find(args.begin(), args.end(), "--");
    for (const std::string& r : rest)
        if (r != "--")
            return unexpected(c, r, std::find(args.begin(), mark, r) == mark, err);
    if (version_) {
        out << q7ctlVersionText();
        return kExitOk;
    }
    if (c == &root_) {
        err << "q7ctl: no command; q7ctl help lists them\n";
        return kExitUsage;
    }
    const auto i = info_.find(c);
    if (i == info_.end() || !i->second.run) {
        std::string names;
        for (const std::string& n : subcommandNames(c))
            names += (names.empty() ? "" : ", ") + n;
        err << "q7ctl: " << path(c) << " needs a command: " << names << "; q7ctl help " << path(c)
            << " describes them\n";
        return kExitUsage;
    }
    if (global_.simulator && global_.replay) {
        err << "q7ctl: --simulator and --replay exclude each other\n";
        return kExitUsage;
    }
    std::istream& in = env.in ? *env.in : std::cin;
    Invocation invocation{out, err, in, env, global_, path(c)};
    return i->second.run(invocation);
}

CLI::Option* addJsonFlag(CLI::App* command, bool& json, const std::string& what) {
    return command->add_flag("--json", json,
                             what.empty() ? "print one JSON document instead of text" : what);
}

} // namespace q7
