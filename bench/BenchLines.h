// The random text of the log benchmarks' lines, drawn the same way by every
// binary that times them, so that one seed gives the same lines everywhere.
#ifndef ORVEX_BENCH_BENCHLINES_H
#define ORVEX_BENCH_BENCHLINES_H

#include <random>
#include <string>

namespace BenchLines {

class Draw {
public:
    explicit Draw(std::mt19937::result_type seed) : m_random(seed) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(m_random);
    }

    // A text of `length` characters: words of 2-10 letters separated by
    // spaces.
    std::string Text(int length) {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
        std::string out;
        int word = Between(2, 10);
        while (static_cast<int>(out.size()) < length) {
            if (word == 0 && static_cast<int>(out.size()) < length - 1) {
                out.push_back(' ');
                word = Between(2, 10);
            } else {
                out.push_back(kLetters[Between(0, 36)]);
                word = word == 0 ? 0 : word - 1;
            }
        }
        return out;
    }

private:
    std::mt19937 m_random;
};

} // namespace BenchLines

#endif // ORVEX_BENCH_BENCHLINES_H
