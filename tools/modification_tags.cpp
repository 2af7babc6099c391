#include "tools/modification_tags.h"

#include <sstream>
#include <stdexcept>

namespace tamsu_cli {

namespace {

constexpr const char* k_canonical = "ACGT";

bool is_canonical(char letter)
{
    return std::string(k_canonical).find(letter) != std::string::npos;
}

// The SAM tags' single-letter modification codes and their canonical bases.
char canonical_of_code(char letter)
{
    switch (letter) {
    case 'm':
    case 'h':
    case 'f':
    case 'c':
        return 'C';
    case 'a':
        return 'A';
    case 'o':
        return 'G';
    case 'g':
    case 'e':
    case 'b':
        return 'T';
    default:
        return 0;
    }
}

}  // namespace

std::vector<ModificationTags::Code> ModificationTags::codes(const std::string& alphabet,
                                                            const std::string& long_names)
{
    std::istringstream names(long_names);
    std::vector<Code> found;
    for (std::size_t column = 0; column < alphabet.size(); ++column) {
        const char letter = alphabet[column];
        if (is_canonical(letter)) {
            continue;
        }
        std::string name;
        names >> name;
        char canonical = canonical_of_code(letter);
        if (canonical == 0 && !name.empty() && is_canonical(name.back())) {
            canonical = name.back();
        }
        if (canonical == 0) {
            throw std::invalid_argument("cannot tell the canonical base of modification '" +
                                        std::string(1, letter) + "' (long name '" + name +
                                        "') in the alphabet '" + alphabet + "'");
        }
        found.push_back({letter, canonical, column});
    }
    return found;
}

ModificationTags::ModificationTags(const std::vector<Code>& codes, const std::string& sequence,
                                   const std::vector<std::uint8_t>& probabilities,
                                   std::size_t columns)
{
    for (const auto& code : codes) {
        m_mm += std::string(1, code.canonical) + "+" + code.letter + "?";
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i] == code.canonical) {
                // Every canonical base is listed, so none is skipped.
                m_mm += ",0";
                m_ml.push_back(probabilities.at(i * columns + code.column));
            }
        }
        m_mm += ";";
    }
}

}  // namespace tamsu_cli
