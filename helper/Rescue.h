// A rescue read: everything of the diskette that can be read, and a map of what could not.
//
// The first pass reads whole tracks as a plain read does. A track that fails is read sector by
// sector, each failing sector Retries more times with the head moved away between attempts.
// Sectors that stay unreadable are zeros in the dump. The dump FILE and the map FILE.map
// (GNU ddrescue's mapfile) are written when the run ends, also when it is interrupted (the
// sectors not tried yet are '?' then, and error.dat says it was cut short). A run that is
// otherwise complete leaves no error.dat, however many sectors it could not read: the caller
// learns them from the map.
//
// When FILE.map is there at the start, the run resumes: FILE holds the dump of earlier passes,
// only the sectors the map does not mark finished are read, and a sector read in any pass is
// kept. The sectors that earlier passes read on the first track that has any must read the
// same now, or the run refuses: it is another diskette.
#pragma once

#include "helper/ExchangeFiles.h"
#include "helper/Transfer.h"

// Throws ETransferError.
void RescueRead(const TTransferRequest& Request, const TExchangeFiles& Files,
                const TRunOptions& Options, TMedium& Medium);
