// VariableStore: the variables of one run, name -> text, case-sensitive, no
// scopes. Reading an absent name creates it empty, as scripts expect.
#pragma once

#include <map>
#include <string>

namespace qp {

class VariableStore {
 public:
  // The value; an absent name is inserted with the empty text.
  const std::string& Get(const std::string& name) { return values_[name]; }
  std::string& Ref(const std::string& name) { return values_[name]; }
  void Set(const std::string& name, std::string value) { values_[name] = std::move(value); }
  bool Has(const std::string& name) const { return values_.count(name) > 0; }
  const std::map<std::string, std::string>& all() const { return values_; }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace qp
