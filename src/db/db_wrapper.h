// CDBWrapper: the common interface of the database back ends (placeholder
// until the back ends land).
#pragma once

namespace qp {

class CDBWrapper {
 public:
  virtual ~CDBWrapper() = default;
};

}  // namespace qp
