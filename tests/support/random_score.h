// Random scores for property tests, and where each of their command strings stands. The scores
// use every kind of command (notes with accidentals, lengths, dots and explicit durations,
// rests, `n` numbers, ties, tuplets with their own items, parameters, octave and length
// settings) in channel blocks that open and close on shared or separate lines, channels opened
// more than once, several strings on one line, and header commands and comments between the
// blocks. Nearly all of them compile cleanly.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace testing_support {

struct RandomScore {
  // One command string: its channel, its 0-based line and the columns of its two quotes.
  struct CommandString {
    int channel;
    int line;
    int open;
    int close;
  };
  std::string text;  // lines joined by "\n"
  std::vector<CommandString> strings;
};

class RandomScoreWriter {
 public:
  explicit RandomScoreWriter(unsigned seed) : random_(seed) {}

  RandomScore next() {
    score_ = RandomScore();
    lines_.assign(1, std::string());
    const int blocks = number(1, 8);
    for (int b = 0; b < blocks; ++b) {
      if (chance(3)) headerLine();
      block(number(1, 4));  // few channels, so that some open twice
    }
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (i > 0) score_.text += '\n';
      score_.text += lines_[i];
    }
    return score_;
  }

 private:
  int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool chance(int inverse) { return number(1, inverse) == 1; }
  template <size_t N>
  const char* pick(const char* const (&choices)[N]) {
    return choices[number(0, N - 1)];
  }

  std::string& line() { return lines_.back(); }
  void newLine() { lines_.emplace_back(); }

  void headerLine() {
    static const char* const LINES[] = {"op(q7def)",           "op(q8def)",
                                        "cr(\"(c) someone\")", "sn(\"a song\")",
                                        "// ch1 { \"c\" }",    "/* ch2 { \"d\" } */ "};
    line() += pick(LINES);
    newLine();
  }

  void block(int channel) {
    line() += "ch" + std::to_string(channel) + (chance(2) ? " {" : "{");
    const int stringLines = number(0, 3);
    for (int i = 0; i < stringLines; ++i) {
      if (i > 0 || chance(2)) newLine();
      const int strings = number(1, 3);
      for (int s = 0; s < strings; ++s) commandString(channel);
    }
    line() += chance(2) ? " }" : "}";
    newLine();
  }

  void commandString(int channel) {
    std::string body;
    const int commands = number(0, 8);
    for (int c = 0; c < commands; ++c) {
      if (c > 0 && chance(2)) body += ' ';
      body += command();
    }
    line() += chance(2) ? "  " : " ";
    const int open = static_cast<int>(line().size());
    line() += '"' + body + '"';
    score_.strings.push_back({channel, static_cast<int>(lines_.size()) - 1, open,
                              open + 1 + static_cast<int>(body.size())});
  }

  std::string length() {
    static const char* const LENGTHS[] = {"1", "2", "4", "8", "16", "32", "64"};
    switch (number(0, 3)) {
      case 0:
        return "";
      case 1:
        return std::string(pick(LENGTHS)) + ".";
      case 2:
        return chance(4) ? "128" : pick(LENGTHS);
      default:
        return pick(LENGTHS);
    }
  }

  std::string note() {
    static const char* const LETTERS[] = {"c", "d", "e", "f", "g", "a", "b", "C", "E", "A"};
    static const char* const ACCIDENTALS[] = {"", "", "#", "+", "-"};
    std::string text = std::string(pick(LETTERS)) + pick(ACCIDENTALS);
    if (chance(5)) return text + ":" + std::to_string(number(1, 255));
    return text + length();
  }

  std::string tuplet() {
    std::string text = "{";
    const int items = number(1, 6);
    for (int i = 0; i < items; ++i) {
      if (i > 0 && chance(2)) text += ' ';
      switch (number(0, 5)) {
        case 0:
          text += "r" + length();
          break;
        case 1:
          text += "n" + std::to_string(number(0, 96));
          break;
        case 2:
          text += "o" + std::to_string(number(2, 5));
          text += chance(2) ? " c" : "d";
          break;
        case 3:
          text += chance(2) ? "<e" : ">f";
          break;
        default: {
          std::string n = note();
          if (n.find(':') != std::string::npos) n = n.substr(0, n.find(':'));
          text += n;
        }
      }
    }
    return text + "}" + (chance(3) ? " " : "") + length();
  }

  std::string command() {
    switch (number(0, 11)) {
      case 0:
        return "r" + length();
      case 1:
        return "n" + std::to_string(number(0, 96));
      case 2:
        return note() + (chance(2) ? "&" : " & ") + note();
      case 3:
        return tuplet();
      case 4:
        return "t" + std::to_string(number(10, 250));
      case 5:
        return "v" + std::to_string(number(0, 16));
      case 6:
        return "@" + std::to_string(number(0, 127));
      case 7:
        return "$" + std::to_string(number(0, 127));
      case 8:
        return "q" + std::to_string(number(1, 8));
      case 9:
        return chance(2) ? "o" + std::to_string(number(2, 6)) : (chance(2) ? "<" : ">");
      case 10:
        return "l" + std::string(chance(2) ? "8" : "16.");
      default:
        return note();
    }
  }

  std::mt19937 random_;
  RandomScore score_;
  std::vector<std::string> lines_;
};

}  // namespace testing_support
