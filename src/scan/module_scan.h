#pragma once

class frmMain;

// The scan pass: every account of gridAccounts in row order, every message waiting on its
// server fetched and judged against the lists; spam archived in SpamDeleted (its page says which
// check and entry removed it), announced and deleted; the counters of the statistics frame kept
// current message by message; stats.dat saved at the end. A message an earlier pass judged kept or
// whitelisted under the same rules, known by the unique id its server gives it, is not fetched
// again but counted as judging it would count it (the memory is judged.dat, see scanmemory.h):
// the pass ends as a full one would, without its downloads. Progress goes to the status line
// Label17; when stats.dat cannot be written, a notice with the reason follows the closing text
// there, and the counters stay in the window. Accounts whose log-in failed are skipped, and the
// window tells of them after the pass (see ScanReport), as scan.log does of every removal.
// The window stays usable: the pass yields before each message, after loading it and while it
// classifies.
//
// A request that arrives while a pass runs (from one of its yields or while the spam notice is
// open) is ignored: the one POP3 component serves one pass at a time.
void module_scan(frmMain& form);
