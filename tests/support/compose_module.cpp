// Composes a module with the module builder from a description read on
// standard input and writes it to standard output, for the tests written in
// Python. One command a line, numbers in decimal, text and bytes in hex:
//   module CHANNELS PATTERNS [TAG]      the tagged layout (must come first)
//   old PATTERNS                        or the old one
//   title HEX
//   song LENGTH RESTART
//   order INDEX PATTERN
//   sample N WORDS FINETUNE VOLUME LOOPSTART LOOPWORDS
//   name N HEX
//   cell PATTERN LINE CHANNEL SAMPLE PERIOD EFFECT PARAM
//   data HEX                            sample bytes, appended
// Exits with 2 and a message on standard error for a description it cannot
// follow.
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tracker/module_builder.h"

namespace {

using plinth::ModuleBuilder;

std::string fromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        size_t used = 0;
        const int value = std::stoi(hex.substr(i, 2), &used, 16);
        if (used != 2) throw std::invalid_argument("not hex: " + hex.substr(i, 2));
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// The next whitespace-separated word of the line, which must be there.
std::string word(std::istringstream& line) {
    std::string text;
    if (!(line >> text)) throw std::invalid_argument("missing argument");
    return text;
}

int number(std::istringstream& line) {
    const std::string text = word(line);
    size_t used = 0;
    const int value = std::stoi(text, &used, 10);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return value;
}

void apply(std::unique_ptr<ModuleBuilder>& module, const std::string& command, std::istringstream& line) {
    if (command == "module" || command == "old") {
        if (module) throw std::invalid_argument("a second layout");
        if (command == "old") {
            module = std::make_unique<ModuleBuilder>(ModuleBuilder::oldLayout(number(line)));
            return;
        }
        const int channels = number(line);
        const int patterns = number(line);
        std::string tag;
        line >> tag;
        module = std::make_unique<ModuleBuilder>(channels, patterns, tag.empty() ? nullptr : tag.c_str());
        return;
    }
    if (!module) throw std::invalid_argument("the layout must come first");
    if (command == "title") {
        module->title(fromHex(word(line)));
    } else if (command == "song") {
        const int length = number(line);
        module->song(length, number(line));
    } else if (command == "order") {
        const int index = number(line);
        module->order(index, number(line));
    } else if (command == "sample") {
        int fields[6];
        for (int& field : fields) field = number(line);
        module->sample(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
    } else if (command == "name") {
        const int n = number(line);
        module->sampleName(n, fromHex(word(line)));
    } else if (command == "cell") {
        int fields[7];
        for (int& field : fields) field = number(line);
        module->cell(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]);
    } else if (command == "data") {
        const std::string bytes = fromHex(word(line));
        module->data(std::vector<int8_t>(bytes.begin(), bytes.end()));
    } else {
        throw std::invalid_argument("unknown command");
    }
}

}  // namespace

int main() {
    std::unique_ptr<ModuleBuilder> module;
    std::string text;
    int lineNumber = 0;
    while (std::getline(std::cin, text)) {
        ++lineNumber;
        std::istringstream line(text);
        std::string command;
        if (!(line >> command)) continue;
        try {
            apply(module, command, line);
            std::string extra;
            if (line >> extra) throw std::invalid_argument("more than the command takes");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "compose_module: line %d: %s\n", lineNumber, error.what());
            return 2;
        }
    }
    if (!module) {
        std::fputs("compose_module: no layout given\n", stderr);
        return 2;
    }
    const std::vector<uint8_t>& image = module->image();
    return std::fwrite(image.data(), 1, image.size(), stdout) == image.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
