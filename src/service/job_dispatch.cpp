#include "service/job_dispatch.h"

#include "groups/group_sync.h"
#include "jobdata/job_reader.h"
#include "runtime/trim.h"
#include "scripts/list_scripts.h"
#include "sync/sync_pass.h"

namespace tv {
namespace {

// The population a header works on; false when its skip setting is on (the
// current label is then cleared, and the records are read past as lines).
bool selectFor(Runtime& rt, bool staff) {
  if (staff ? rt.settings.SkipMeda : rt.settings.SkipElev) {
    rt.trim.label.clear();
    return false;
  }
  if (staff) {
    selectStaff(rt);
  } else {
    selectPupils(rt);
  }
  return true;
}

void cleanup(Runtime& rt, bool staff) {
  const Settings& s = rt.settings;
  int days = staff ? s.DageForSletMeda : s.DageForSlet;
  if (days > 0 && !s.IDrift) {
    // Both lines print DageForSletMeda, as the registers' operators know them.
    rt.log.message(1,
                   staff ? "IDRIFT=0 Oprydning MEDA: DageForSletMeda: %d\n"
                         : "IDRIFT=0 Oprydning PERS: DageForSletMeda: %d\n",
                   s.DageForSletMeda);
  }
}

}  // namespace

bool handleSyncFile(Runtime& rt, const std::string& fileName) {
  Log& log = rt.log;
  const Settings& s = rt.settings;
  if (s.LogLevel >= 1) log.memoryLine();
  selectPupils(rt);
  if (s.LogLevel >= 1) {
    log.message(1, " Initialisering slut. Starter behandling af %s\n", fileName.c_str());
  }

  std::int64_t staffPos = -1, pupilPos = -1;
  std::optional<JobReader> reader = JobReader::open(log, rt.dataPath(fileName));
  bool fatal = false;
  if (reader) {
    JobLine line;
    bool more = reader->nextWhole(line);
    while (more && !fatal) {
      const std::string text = line.text;
      if (text.size() < 2) {
        more = reader->nextWhole(line);
        continue;
      }
      JobHeader h = parseJobHeader(text);
      SectionEnd end = SectionEnd::kEmptyLine;
      bool ranSection = false;
      switch (h) {
        case JobHeader::kCreateMeda:
        case JobHeader::kCreatePers:
        case JobHeader::kRemoveMeda:
        case JobHeader::kRemovePers: {
          bool staff = h == JobHeader::kCreateMeda || h == JobHeader::kRemoveMeda;
          bool create = h == JobHeader::kCreateMeda || h == JobHeader::kCreatePers;
          if (selectFor(rt, staff)) {
            end =
                create ? BrugerOprettelse(rt, *reader, line) : BrugerNedleggelse(rt, *reader, line);
            ranSection = true;
          }
          break;
        }
        case JobHeader::kSyncMeda:
        case JobHeader::kSyncPers: {
          bool staff = h == JobHeader::kSyncMeda;
          (staff ? staffPos : pupilPos) = reader->position();
          if (selectFor(rt, staff)) {
            end = synchronisationPass(rt, *reader, line);
            ranSection = true;
            if (end != SectionEnd::kFatal) cleanup(rt, staff);
          }
          break;
        }
        case JobHeader::kSequence:
        case JobHeader::kSchool: {
          JobLine value;
          if (!reader->nextWhole(value)) {
            more = false;
            continue;
          }
          if (h == JobHeader::kSequence) {
            rt.job.sequence = sequenceValue(value.text);
          } else {
            rt.job.schoolName = schoolName(value.text);
          }
          // The value line is examined in turn; it is normally no header.
          line = value;
          continue;
        }
        default:
          break;
      }
      if (!ranSection) {
        more = reader->nextWhole(line);
        continue;
      }
      switch (end) {
        case SectionEnd::kHeader:
          break;  // the next header is in line
        case SectionEnd::kEndOfFile:
          more = false;
          break;
        case SectionEnd::kFatal:
          fatal = true;
          break;
        default:
          more = reader->nextWhole(line);
          break;
      }
    }
  }
  if (fatal) return false;

  if (s.GrupperIDrift) {
    log.message(1, " Gruppe Sektion:\n");
    if (reader && staffPos >= 0 && !s.SkipMeda) {
      log.message(1, "Meda Grupper \n");
      reader->seek(staffPos);
      groupSync(rt, *reader, true);
    }
    if (reader && pupilPos >= 0 && !s.SkipElev) {
      log.message(1, "Pers Grupper \n");
      reader->seek(pupilPos);
      groupSync(rt, *reader, false);
    }
  } else {
    log.message(1, "Grupper ikke i drift...");
  }
  runListScripts(rt);
  if (s.LogLevel >= 1) log.memoryLine();
  return true;
}

}  // namespace tv
