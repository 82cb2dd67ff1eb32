#pragma once

#include <cstdint>
#include <system_error>

#include "api/boundary.h"
#include "api/documents.h"
#include "orbv.h"
#include "util/pending_output.h"

namespace orbv {

// What the work of one call ends with; its document is written by the work itself.
struct CallOutcome {
    int32_t result = -1;       // 0: done
    bool canceled = false;     // the host cancelled the work
    bool wrote_output = true;  // a done job wrote its output (an analysis may write none)
};

// The frame every call shares. validate() returns an error document, or null when the work may
// go ahead. The output is then written under an unfinished name beside it: run(&document,
// write_path) does the work into write_path (null when the host gave no output path), and
// only a done run's output replaces the file at output_path. A failed or cancelled run, or a
// thrown error, leaves that file as it was and removes the unfinished one. An output that
// cannot be made or put in place is answered with unwritable(text, errnum). The outcome reaches
// the callback as the final state with its document; a thrown error is reported with
// thrown_document(text) as report_thrown does.
template <class Result, class Validate, class Unwritable, class Run, class ThrownDocument>
Result run_front_end(const char* output_path, ProgressCallback callback, Validate&& validate,
                     Unwritable&& unwritable, Run&& run,
                     ThrownDocument&& thrown_document) noexcept {
    auto refuse = [&](int error, Document* document) {
        *document = unwritable(std::generic_category().message(error).c_str(), -error);
    };
    return run_guarded(
        [&]() -> Result {
            Document document = validate();
            CallOutcome outcome;
            if (!document) {
                PendingOutput output(output_path);
                if (output.error() != 0) {
                    refuse(output.error(), &document);
                } else {
                    outcome = run(&document, output.path());
                    const int error = outcome.result == 0 && outcome.wrote_output && output.path()
                                          ? output.commit()
                                          : 0;
                    if (error != 0) {
                        refuse(error, &document);
                        outcome.result = -1;
                    }
                }
            }
            const int32_t state = outcome.result == 0
                                      ? STATE_DONE
                                      : (outcome.canceled ? STATE_CANCELED : STATE_FAILED);
            deliver(callback, state, std::move(document));
            return 0;
        },
        [&](const char* text) -> Result {
            return report_thrown(callback, [&] { return thrown_document(text); });
        });
}

}  // namespace orbv
