// What vexdram says about itself, once: the program's help and the manual page vexdram(1)
// (written by gen_docs) both come from these rows.
#pragma once

namespace vexdram::cli::text {

inline constexpr const char* summary =
    "the parameter block of DDR binaries and loader containers, for scripts and build systems";

inline constexpr const char* description =
    "vexdram reads and edits the parameter block of a DDR binary, or of the DDR image (471) of a "
    "loader container, with the same core as vexdram_tool: the same decoding, the same encoding, "
    "the same bytes written. It is made for scripts: results on standard output, every message on "
    "standard error as \"vexdram: FILE: ...\", a status for every outcome, every edit checked "
    "before anything is written, and writes that are all or nothing.";

struct command {
  const char* name;
  const char* synopsis;  // after "vexdram NAME"
  const char* summary;   // one line, for --help
  const char* details;   // for the manual page
};

inline constexpr command commands[] = {
    {"show", "FILE [--json] [--chip CHIP]",
     "print the report of FILE, as vexdram_tool -g writes it",
     "Prints the report of FILE (a DDR binary or a loader container) exactly as vexdram_tool's report "
     "mode writes it. With --json: one object with the file, the chip, the kind (\"ddr\" or "
     "\"loader\"), the block version, \"unwritable\" (null, or the reason set and apply refuse "
     "every edit of this block: its sections overlap), \"parameters\", each key mapped to an "
     "unsigned integer, in catalogue order, \"storage\", each key mapped to \"stored\" or the "
     "reason this binary does not store it, and \"zero_refused\", each tq6951 skew lane that holds "
     "a value other than 0 mapped to the reason a 0 is refused for it; every reason in the words "
     "set and apply refuse an edit with."},
    {"get", "FILE KEY... [--json] [--chip CHIP]",
     "print the values of KEYs, one a line, as the report writes them",
     "Prints the value of each KEY, one a line, as the report writes it; --json gives one object. "
     "An unknown key is refused, naming the nearest keys."},
    {"set",
     "FILE KEY=VALUE... (-o OUT | --in-place) [--force] [--wait SECONDS] [--dry-run] [--chip CHIP]",
     "check every KEY=VALUE, print the changes, write them",
     "Checks every KEY=VALUE first; when any is wrong it lists every problem and writes nothing. "
     "Otherwise it writes the result, then prints each change as \"KEY: OLD -> NEW\" (a key given "
     "twice with one value is one change). A parameter the "
     "binary does not store (a missing section, a field its block version lacks, a skew lane of "
     "another chip) is refused with that reason; so is 0 for a tq6951 skew lane that holds another "
     "value, because 0 keeps a lane as it is."},
    {"apply",
     "PARAMS FILE... (-o OUT | --out-dir DIR | --in-place) [--force] [--wait SECONDS] [--dry-run] [--chip CHIP]",
     "write the values of a parameter file or report into each FILE; a parameter it does not name, or "
     "leaves blank, keeps the binary's value",
     "PARAMS is a parameter file or a report (name=value lines; a blank value keeps the binary's "
     "value; LF or CR LF; \"/*\" starts a comment; \"end\" and blank lines are ignored), or - for "
     "standard input. It is read as vexdram_tool reads it: only a line feed ends a line (a bare CR "
     "is refused), a line holds at most 1023 bytes, a UTF-8 byte-order mark at the start is "
     "skipped; a key given again with another value, or left blank after a value, is refused, and "
     "so is a file over 16 MiB. A FIFO is read as a pipe: vexdram waits for its writer. Unlike "
     "vexdram_tool, a parameter that PARAMS does not name keeps the binary's value. Every line that cannot be used is listed with its line number, and nothing is written. "
     "With several FILEs, every one is checked before any is written; --out-dir DIR writes each as "
     "DIR/its name. A value equal to the binary's own is always accepted, so any report applied to "
     "its own binary is accepted and changes nothing."},
    {"diff", "A B [--json] [--chip CHIP]",
     "list KEY: A -> B for each parameter whose values differ",
     "A and B are each a DDR binary, a loader container, a report or a parameter file. Lists "
     "\"KEY: A -> B\" for every parameter whose values differ; a parameter a parameter file leaves "
     "blank or does not name is no difference. When the name of one of them gives no chip, it is read "
     "for the chip the other's gives. Status 0: the same; 1: different; 2: trouble."},
    {"template", "", "print the blank parameter file",
     "Prints the blank parameter file: every key with a blank value."},
    {"keys", "[--json]", "print the catalogue",
     "Prints one line per parameter, tab-separated: the key, its group, its report format (hex or "
     "decimal), then for block versions 0-1, 2-4 and 5 its width and largest value (\"12/4095\"; "
     "\"-\" where that version has no place for it; \"tq6951\" after the skew fields, which only "
     "that chip's binaries carry). With --json: the catalogue as hosts read it (the studio's "
     "resource/vexdram_catalogue.json): the chips, the groups, the start tag, and each parameter's "
     "number, key, format, group and places (block versions, section, word, lowest bit, width)."},
    {"chips", "", "print the chip names", "Prints the chip names that --chip accepts, one a line."},
};

struct option {
  const char* commands;  // the commands that take it, separated by spaces
  const char* names;     // as CLI11 reads them: "-o,--out"
  const char* value;     // nullptr for a flag
  const char* help;
};

inline constexpr option options[] = {
    {"show get set apply diff template keys chips", "--chip", "CHIP",
     "a chip name vexdram_tool accepts, in either case; without it, the longest chip name that the "
     "file's name contains, in either case"},
    {"show get diff keys", "--json", nullptr, "JSON on standard output"},
    {"set apply", "-o,--out", "OUT",
     "write the result to OUT; an existing OUT is refused without --force, one that is not a regular file "
     "always, and OUT may not be FILE itself"},
    {"apply", "--out-dir", "DIR", "write each FILE as DIR/its name"},
    {"set apply", "--in-place", nullptr,
     "replace FILE itself (through a new file renamed over it); a FILE whose values all stay is left alone"},
    {"set apply", "--force", nullptr,
     "replace an existing output; in place, replace a FILE that is read-only"},
    {"set apply", "--wait", "SECONDS",
     "while another vexdram run holds the lock of a target, wait for it up to SECONDS (up to a day); "
     "without it, fail at once"},
    {"set apply", "--dry-run", nullptr,
     "print the changes, or the refusals the run would meet, and write nothing"},
};

struct status {
  int code;
  const char* meaning;
};

inline constexpr status statuses[] = {
    {0,
     "done: every output is written, whole, with the values asked for; diff: A and B hold the same values"},
    {1, "diff: A and B differ"},
    {2,
     "trouble: a usage error (with the usage on standard error), a file that cannot be read or is "
     "no DDR binary or container, an unknown key or chip, a value refused, a target that is not a "
     "regular file, a lock held by another run, a target changed by another program while it was "
     "edited, a write that failed (a full disk, the file size limit, a failed rename), a standard "
     "output that cannot be written; nothing was written, every target is as it was (should a "
     "target renamed before a failed rename not be put back, should printing the changes fail "
     "once all is written, or a directory not be synced once all is renamed, the message says "
     "so)"},
    {129,
     "ended by SIGHUP (as a shell reports it: 128 + the signal's number), on Windows by closing its "
     "console: every new file and every lock is removed, and every target is as it was or, when the "
     "signal came during the renames (which it waits for), every one has its new values"},
    {130, "ended by SIGINT, on Windows by Ctrl+C or Ctrl+Break, as for 129"},
    {143,
     "ended by SIGTERM, on Windows by logging off or shutting down, as for 129. SIGKILL cannot be "
     "caught, nor TerminateProcess on Windows: see WRITING"},
};

inline constexpr const char* value_rule =
    "A value is a decimal number without a leading zero (0 itself is fine) or 0x hexadecimal; a "
    "negative decimal only as the report writes 32-bit values (-2147483648 to -1 stand for 2^32 + "
    "N); spaces and tabs around it are ignored. It must fit its field in this binary's block "
    "version. \"0800\", \"1.5\", \"12abc\", and \"-1\" for a 4-bit field are refused, each with its "
    "reason.";

inline constexpr const char* writing =
    "Nothing is written in place without --in-place. Only regular files are written: an OUT, or a "
    "FILE in place, that is (after following symlinks) a device, a FIFO, a socket or a directory is "
    "refused, with --force or not; so is, in place without --force, a FILE with no write bit for "
    "anyone. Every output is written whole to a new file beside its target, \"NAME.lock.new\" (for "
    "a name too long for that, its first bytes, \"~\" and a hash), synced, decoded again and "
    "checked (every value asked for reads back, nothing outside the block's sections differs from "
    "FILE). Only when every output has passed, and every FILE edited in place is still the file "
    "that was read (the same device, inode, size, modification and change times: when another "
    "program wrote it meanwhile, nothing is written and the message is \"FILE: changed while it "
    "was being edited\"), are they renamed over their targets, and each directory is synced; only "
    "then are the changes printed. Should a rename fail, the targets already renamed are put back: "
    "until every target is in place, each one replaced is kept, exchanged with its new file in one "
    "step (renameat2(RENAME_EXCHANGE)) or, where the file system cannot, under a second name, "
    "\"NAME.lock.old\"; on a file system that can do neither (FAT on an older kernel) a target "
    "cannot be put back, and the message says which. The target keeps the input's mode. On any "
    "failure (a full disk, the file size limit of ulimit -f, a failed rename, SIGINT, SIGTERM or "
    "SIGHUP) every new file is removed and every target is as it was; an interrupt that comes "
    "during the renames waits for them, and every target then has its new values. A standard "
    "output that cannot be written (full, or a pipe nobody reads) is a failed print, status 2, "
    "never the end of the run by SIGPIPE: once all is written, the message says so. "
    "Locks: before FILE is read, each target's lock, \"NAME.lock\", is made beside it: a name of "
    "a file that the kernel keeps locked (flock; LockFileEx on Windows) for as long as the run "
    "lives and no longer, alike in every PID namespace of the machine. It is one file per file "
    "system of the run, of which each lock is a hard link; where the file system has no hard "
    "links, each lock is a file of its own, holding a descriptor of its own: the soft limit of "
    "ulimit -n is then raised to the hard one, and a run with more targets than that allows is "
    "refused before anything is written. Another run on the same target finds the lock held and "
    "fails at once (after a fifth of a second: a run removing a lock left behind holds it a "
    "moment), status 2, naming the lock and, when the system says which (Linux: "
    "/proc/locks, which shows the processes of its own PID namespace), the process that holds it; "
    "with --wait SECONDS it waits that long. A lock that no process holds was left by a run that "
    "ended without removing it (SIGKILL, a crash): the next run that writes that target removes "
    "it, while it is still the file found unlocked, with the \"NAME.lock.new\" and "
    "\"NAME.lock.old\" the killed run left beside it. These names are vexdram's: a file of such a "
    "name that no process holds locked is removed. A lock is removed only by a run that needs it; "
    "no other name in the directory is looked at. What stands at a lock's name and is no regular "
    "file (a directory, a FIFO, a symbolic link) is refused and never removed. SIGINT, SIGTERM "
    "and SIGHUP leave no lock and no new file: they wait while a name is made and while one is "
    "removed. SIGKILL cannot be caught: a run killed with it leaves its locks and its new files "
    "to the next run, and if it came during the renames, each target as it was or whole with its "
    "new values. Each directory written in is held open for the run, so that a directory renamed "
    "meanwhile keeps none of the run's files (on Windows a directory held cannot be renamed); "
    "with more directories than descriptors, the rest are reached by their names. Over NFS the "
    "locks are the server's (NFSv4, or the lock manager of NFSv3 unless the mount says nolock or "
    "local_lock): runs on other machines respect them, as long as the client keeps its lease; a "
    "client cut off from the server longer than that may lose a lock while its run goes on. "
    "Without --force, OUT is published with renameat2(RENAME_NOREPLACE) (a hard link, or a name "
    "taken first with O_EXCL, where the file system lacks it), so an OUT that another program "
    "makes meanwhile is reported as existing, never replaced. "
    "On Windows, where \"F\", \"F.\", \"F \" and an 8.3 name are names of one file, the lock and "
    "the rename go by the file's final path, so every such name takes the same lock and the file "
    "keeps its own name (two hard links are two targets, as on Linux); an OUT or a FILE named as a "
    "device (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, with any extension) is refused by its name, "
    "before anything is opened; a target another program has open is tried again for a second. A "
    "run ended by TerminateProcess (taskkill /F, End task) leaves its locks to the next run, as "
    "SIGKILL does. "
    "In place, the new file replaces FILE: other hard links to FILE keep the old bytes, and a sparse "
    "FILE is written whole, its holes filled with zeros. "
    "A block whose sections overlap each other or its index is never written. A loader container is "
    "written as the dramforge module packs it after its DDR image (471) was edited: the same entries, "
    "order and options, the FlashData image a copy of the 471 image, the release time of the packing "
    "(SOURCE_DATE_EPOCH when set; a value that is not a number of seconds from 0 to 4294967295 is "
    "refused with status 2, as reproducible builds ask); unlike the module, vexdram also keeps the "
    "container's image alignment (imgwelder pack -a). "
    "Names in messages are written with their control characters (C0, DEL, and C1 whether in "
    "UTF-8 or a raw byte that is no UTF-8) as \\n, \\r, \\t or \\xHH, so that each message is "
    "one line and a terminal is sent nothing but text; in JSON, a byte of a file name that is not UTF-8 is written as "
    "U+FFFD.";

inline constexpr const char* examples[] = {
    "vexdram get board_tq6583_ddr.bin ddr3_freq lp4_freq",
    "vexdram set tq6583_ddr.bin ddr3_freq=933 'uart baudrate=115200' -o out/tq6583_ddr.bin",
    "vexdram apply board.txt tq6951_loader.bin --in-place",
    "vexdram apply board.txt images/*.bin --out-dir out --dry-run",
    "vexdram diff vendor_tq6583_ddr.bin out/tq6583_ddr.bin --json",
    "vexdram show tq6951_ddr_v5.bin > report.txt",
};

// What FILE is, for the manual page: the older family's names (run.h) stand between the parts.
inline constexpr const char* file_head =
    "FILE is a DDR binary or a loader container: a file that begins with \"BOOT\" or "
    "\"LDR \" and the header length 0x66 is a container. The chip (--chip, or the longest "
    "chip name in FILE's name) matters, as for vexdram_tool, for the skew section, which is "
    "read for the chip tq6951 alone; and for a version 0 or 1 block FILE's path does too: "
    "when it contains ";
inline constexpr const char* file_tail = " the short form of the version-1 record is written.";

inline constexpr const char* help_option =
    "prints the usage, at every level: vexdram --help, vexdram set --help.";
inline constexpr const char* version_option = "prints the version.";
inline constexpr const char* source_date_epoch =
    "the release time recorded in a loader container that vexdram writes, as for imgwelder.";

}  // namespace vexdram::cli::text
