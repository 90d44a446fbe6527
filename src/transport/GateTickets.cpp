#include "transport/GateTickets.h"

#include "transport/Printable.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

namespace vk9::tickets {

namespace {

constexpr std::array<std::string_view, 8> kWords{"sent", "answered", "unanswered", "absent",
                                                 "busy", "repeated", "full",       "lost"};

// Printable ASCII but the space and "%" as is; the rest as %XX.
std::string escaped(std::string_view bytes) {
    return escapedBytes(
        bytes, [](char c) { return c > ' ' && c < 127 && c != '%'; }, "%%%02X");
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        const char* from = text.data() + i + 1;
        if (i + 3 > text.size() || std::from_chars(from, from + 2, value, 16).ptr != from + 2) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

template <class Number> bool number(std::string_view text, Number& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::string format(const Notice& n) {
    std::string line =
        std::string(kWords.at(static_cast<std::size_t>(n.fate))) + " " + std::to_string(n.frame);
    if (n.fate == Fate::Sent || n.fate == Fate::Answered || n.fate == Fate::Absent) {
        line += " " + std::to_string(n.ms);
    }
    if (n.fate == Fate::Answered) {
        line += " " + escaped(n.reply);
    }
    return line + "\n";
}

std::optional<Notice> parseNotice(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at <= line.size();) {
        const auto space = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, space - at));
        at = space + 1;
    }
    Notice n{};
    std::size_t fate = 0;
    while (fate < kWords.size() && kWords[fate] != words[0]) {
        ++fate;
    }
    if (fate == kWords.size() || words.size() < 2 || !number(words[1], n.frame)) {
        return std::nullopt;
    }
    n.fate = static_cast<Fate>(fate);
    const std::size_t expected = n.fate == Fate::Answered                         ? 4
                                 : n.fate == Fate::Sent || n.fate == Fate::Absent ? 3
                                                                                  : 2;
    if (words.size() != expected || (expected > 2 && !number(words[2], n.ms))) {
        return std::nullopt;
    }
    if (n.fate == Fate::Answered) {
        auto reply = unescaped(words[3]);
        if (!reply) {
            return std::nullopt;
        }
        n.reply = std::move(*reply);
    }
    return n;
}

std::string whyNotSent(const Notice& n) {
    switch (n.fate) {
    case Fate::Absent:
        return "the projector does not answer; the gate tries it again in " +
               std::to_string((n.ms + 999) / 1000) + " s";
    case Fate::Busy:
        return "the line was busy (shared through the gate)";
    case Fate::Full:
        return "too many frames were waiting at the gate";
    case Fate::Lost:
        return "the line went away";
    default:
        return {};
    }
}

} // namespace vk9::tickets
