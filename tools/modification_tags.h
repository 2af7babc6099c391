#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamsu_cli {

// The base-modification tags of a called read: MM (each modification with its canonical base
// and the read positions it applies to) and ML (one 0-255 probability per listed position).
// The alphabet holds the canonical bases A, C, G, T and one letter per modification; long
// names give the modifications in the order of their letters, separated by blanks.
class ModificationTags {
public:
    struct Code {
        char letter = 0;
        char canonical = 0;
        std::size_t column = 0;  // the letter's place in the alphabet
    };

    // The canonical base of each modification letter: the SAM single-letter code (m, h, f, c:
    // C; a: A; o: G; g, e, b: T), else the last letter of its long name (5mC: C). Throws
    // std::invalid_argument naming a letter it cannot map.
    static std::vector<Code> codes(const std::string& alphabet, const std::string& long_names);

    // MM lists every canonical base of `sequence` (read orientation) with mode '?';
    // `probabilities` holds one value per base per alphabet letter.
    ModificationTags(const std::vector<Code>& codes, const std::string& sequence,
                     const std::vector<std::uint8_t>& probabilities, std::size_t columns);

    const std::string& mm() const { return m_mm; }
    const std::vector<std::uint8_t>& ml() const { return m_ml; }

private:
    std::string m_mm;
    std::vector<std::uint8_t> m_ml;
};

}  // namespace tamsu_cli
