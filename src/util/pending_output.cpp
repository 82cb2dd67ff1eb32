#include "util/pending_output.h"

#include <cerrno>

#include "util/file_system.h"

namespace orbv {

PendingOutput::PendingOutput(const char* path) {
    if (path == nullptr) return;
    target_ = link_target(path, &error_);
    if (error_ != 0) return;
    if (holds_other_than_file(target_.c_str())) {
        error_ = EEXIST;
        return;
    }
    unfinished_ = create_unfinished_file(target_, &error_);
}

PendingOutput::~PendingOutput() {
    if (!unfinished_.empty()) remove_file(unfinished_.c_str());
}

int PendingOutput::commit() {
    if (unfinished_.empty()) return error_ != 0 ? error_ : EINVAL;
    // Something the host put at the name while the job ran is not ours to replace.
    if (holds_other_than_file(target_.c_str())) return EEXIST;
    if (file_exists(target_.c_str())) {
        const int copied = copy_permissions(target_.c_str(), unfinished_.c_str());
        if (copied != 0) return copied;
    }
    const int replaced = replace_file(unfinished_.c_str(), target_.c_str());
    if (replaced == 0) unfinished_.clear();
    return replaced;
}

}  // namespace orbv
