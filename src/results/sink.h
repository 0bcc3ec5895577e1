// Where a shipper sends records: the results database, or a stand-in in tests.
#pragma once

#include <string>
#include <vector>

#include "results/record.h"

namespace results {

class Sink {
 public:
  virtual ~Sink() = default;
  // Connects (and migrates) when not connected. false with the server's words in `error`.
  [[nodiscard]] virtual bool Open(std::string* error) = 0;
  enum class Outcome {
    Stored,
    LinkFailed,  // the link or the server failed: dropped, Open starts again
    Refused,     // the server refused what the batch holds, and would again; the link stays
  };
  // Stores a batch in one transaction: all of it or none. A record already stored is not
  // stored again. Unless Stored, `error` holds the server's words and `sqlState` its code
  // ("" when none came).
  [[nodiscard]] virtual Outcome Insert(const std::vector<Record>& batch, std::string* error,
                                       std::string* sqlState) = 0;
  // Any thread: cuts a statement in progress so that a stop does not wait on the server.
  virtual void Cancel() = 0;
};

}  // namespace results
