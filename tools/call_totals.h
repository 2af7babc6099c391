#pragma once

namespace tamsu_cli {

// Totals over the reads written so far.
struct CallTotals {
    unsigned long reads = 0;
    unsigned long called = 0;
    unsigned long not_called = 0;
    unsigned long long bases = 0;
    double qscore_sum = 0.0;  // of the called reads' mean qualities

    double mean_qscore() const { return called == 0 ? 0.0 : qscore_sum / called; }
};

}  // namespace tamsu_cli
