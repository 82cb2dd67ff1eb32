#pragma once

#include <cstdint>

#include "api/boundary.h"
#include "api/documents.h"
#include "orbv.h"
#include "util/file_system.h"

namespace orbv {

// What the work of one call ends with; its document is written by the work itself.
struct CallOutcome {
    int32_t result = -1;    // 0: done
    bool canceled = false;  // the host cancelled the work
};

// The frame every call shares. The output's file is stamped first; validate() returns an error
// document, or null when the work may go ahead; run(&document) does the work. A failed or
// cancelled run, or a thrown error, removes the output when the call wrote it. The outcome
// reaches the callback as the final state with its document; a thrown error is reported with
// thrown_document(text) as report_thrown does.
template <class Result, class Validate, class Run, class ThrownDocument>
Result run_front_end(const char* output_path, ProgressCallback callback, Validate&& validate,
                     Run&& run, ThrownDocument&& thrown_document) noexcept {
    const FileStamp before = file_stamp(output_path);
    return run_guarded(
        [&]() -> Result {
            Document document = validate();
            CallOutcome outcome;
            if (!document) {
                outcome = run(&document);
                if (outcome.result != 0) remove_output(output_path, before);
            }
            const int32_t state = outcome.result == 0
                                      ? STATE_DONE
                                      : (outcome.canceled ? STATE_CANCELED : STATE_FAILED);
            deliver(callback, state, std::move(document));
            return 0;
        },
        [&](const char* text) -> Result {
            remove_output(output_path, before);
            return report_thrown(callback, [&] { return thrown_document(text); });
        });
}

}  // namespace orbv
