// The directory's stored form, where it has one: the snapshot file that the
// in-process directory is loaded from and written back to. A domain controller
// stores its own changes and needs none of this.
//
// A unit of work (one sync job, one password job) takes the directory with
// acquire() and hands it back with release(). In between, no unit of the other
// thread works on it, so the two never see each other's half-done changes and
// a write-back never interleaves with a load.
#pragma once

#include <string>

namespace tv {

class DirectoryStore {
 public:
  struct Status {
    bool ok = true;
    std::string why;        // when not ok: what failed and where, for the log
    bool reloaded = false;  // acquire() loaded the stored form anew
  };

  virtual ~DirectoryStore() = default;

  // Waits for the other thread's unit to end, then brings the directory in
  // line with its stored form: loaded again when someone else changed the
  // file since it was last read or written here. Not ok: there is no
  // directory to work on (the file is missing, unreadable or damaged); the
  // caller must not run the unit, and holds nothing.
  virtual Status acquire() = 0;
  // Writes back what the unit changed and lets the other thread in. Not ok:
  // the changes could not be stored; the directory drops them, so the next
  // acquire() starts again from the stored form.
  virtual Status release() = 0;
  // Writes back what was changed so far, while the unit still holds the
  // directory (before a fatal exit ends the process in the middle of it).
  virtual Status saveNow() = 0;
};

}  // namespace tv
