#pragma once

// Shared helpers of the tests: temporary directories, the recording callback, documents, files and
// the shell. They use no library internals.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orbv_test {

// A fresh directory below the system's temporary directory, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

struct CallbackRecord {
    int32_t state;
    std::string document;
};

// Records what the library's callback receives. The callback has no user pointer, so the recording
// goes to a thread-local log that Recorder clears and reads.
class Recorder {
  public:
    Recorder();
    static void callback(int32_t state, const char* json);
    const std::vector<CallbackRecord>& records() const;
    // The one final document (state 2, 3 or 4); fails the test when there is not exactly one.
    CallbackRecord final_record() const;
};

// The raw value of a key of a flat JSON document: a quoted text without its quotes (escapes left as
// they are), else the bare number or word; "<missing>" when the key is absent.
std::string json_field(const std::string& document, const std::string& key);
// Whether a document is a flat JSON object: quoted keys, quoted texts (JSON's escapes, no raw
// control characters) or bare numbers and words. Bytes that are not UTF-8 pass, as in paths.
bool flat_json(const std::string& document);
// A path as the documents write it: backslashes and quotes escaped.
std::string escaped(const std::string& path);

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> listing(const std::string& dir);
// A directory in which no file can be created, or "" when the machine offers none. As root,
// permission bits do not stop writing, so only a read-only file system will do.
std::string unwritable_directory();
// A directory on a volume with no free byte that still takes writes, or "" when none.
std::string full_volume();

// Whether file names may hold any bytes (POSIX), not only UTF-8 (Windows).
bool names_take_any_bytes();

// Runs a shell command and returns its standard output; its exit status goes to *status.
std::string run_command(const std::string& command, int* status = nullptr);
std::string shell_quote(const std::string& text);
// ffprobe's value of one entry (e.g. "stream=nb_frames") of the first stream of a kind ("v" or
// "a"); "" when there is none.
std::string probe(const std::string& path, const std::string& stream, const std::string& entry);
int64_t probe_int(const std::string& path, const std::string& stream, const std::string& entry);
// Luma PSNR in dB of picture `a` against picture `b` of the same size, as ffmpeg's psnr filter
// reports it (inf when equal); -1 when it reports none (sizes that differ, for one).
double luma_psnr(const std::string& a, const std::string& b);

// What became of a call made in a child process: waitpid's status (-1 when killed after the time
// limit; 0: no crash, no sanitizer finding, no leak) and every callback it received, in order.
struct IsolatedOutcome {
    int status = -1;
    std::vector<CallbackRecord> records;
    bool clean() const { return status == 0; }
    std::string describe() const;
};

// Runs `body` in a forked child (on Windows in the program itself), so that a crash, an abort, a
// sanitizer report or a hang there fails the test instead of ending the test program. The body
// passes IsolatedCall::callback to the library; each document reaches the parent even when the
// child dies after it. In sanitizer builds the child checks for leaks before it ends.
struct IsolatedCall {
    static IsolatedOutcome run(const std::function<void()>& body, double limit_seconds = 60);
    static void callback(int32_t state, const char* json);
};

}  // namespace orbv_test
