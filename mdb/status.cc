#include "mdb/status.h"

namespace mdb {

const std::string& Status::message() const {
  static const std::string kNone;
  return state_ ? state_->msg : kNone;
}

std::string Status::ToString() const {
  const char* kind = "OK";
  switch (code()) {
    case Code::kOk: return "OK";
    case Code::kNotFound: kind = "not found"; break;
    case Code::kCorruption: kind = "corrupt file"; break;
    case Code::kNotSupported: kind = "not supported"; break;
    case Code::kInvalidArgument: kind = "invalid argument"; break;
    case Code::kIOError: kind = "I/O error"; break;
    case Code::kConstraint: kind = "constraint violated"; break;
    case Code::kBusy: kind = "busy"; break;
    case Code::kBadPassword: kind = "wrong password"; break;
    case Code::kReadOnly: kind = "read-only"; break;
    case Code::kNoMemory: kind = "out of memory"; break;
  }
  const std::string& msg = message();
  return msg.empty() ? std::string(kind) : std::string(kind) + ": " + msg;
}

}  // namespace mdb
