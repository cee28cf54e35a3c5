#include "native/native_invoke.h"

#include <ffi.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/codepage.h"
#include "support/text.h"

namespace qp {
namespace {

// The argument values, laid out in parameter order, with the storage that
// libffi reads them from.
struct ParameterBlock {
  explicit ParameterBlock(size_t count) : types(count), values(count), texts(count),
                                          pointers(count), ints(count) {}
  std::vector<ffi_type*> types;
  std::vector<void*> values;
  std::vector<std::string> texts;  // the writable copies of "char*" arguments
  std::vector<char*> pointers;
  std::vector<int32_t> ints;
};

void Fill(ParameterBlock& block, const std::vector<NativeItem>& args) {
  const size_t count = args.size();
  for (size_t i = 0; i < count; ++i) {
    const NativeItem& arg = args[count - 1 - i];
    if (arg.kind == NativeKind::kInt) {
      block.ints[i] = LeadingInt(arg.text);
      block.types[i] = &ffi_type_sint32;
      block.values[i] = &block.ints[i];
    } else {
      block.texts[i] = arg.text;
      block.pointers[i] = block.texts[i].data();
      block.types[i] = &ffi_type_pointer;
      block.values[i] = &block.pointers[i];
    }
  }
}

std::string WideResult(void* address) {
  if (address == nullptr) return std::string();
  std::string text = FromWide(std::u16string_view(static_cast<const char16_t*>(address)));
  std::free(address);
  return text;
}

}  // namespace

bool InvokeNative(void* entry, NativeKind resultKind, const std::vector<NativeItem>& args,
                  std::string& result) {
  ParameterBlock block(args.size());
  Fill(block, args);
  ffi_type* returnType = resultKind == NativeKind::kInt ? &ffi_type_sint32 : &ffi_type_pointer;
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(args.size()), returnType,
                   block.types.data()) != FFI_OK) {
    return false;
  }
  // libffi widens small results to a full register.
  union {
    ffi_sarg i;
    void* p;
  } value{};
  ffi_call(&cif, FFI_FN(entry), &value, block.values.data());
  switch (resultKind) {
    case NativeKind::kInt:
      result = ToDecimal(static_cast<int32_t>(value.i));
      break;
    case NativeKind::kBstr:
      result = WideResult(value.p);
      break;
    case NativeKind::kCharPtr:
      result = value.p ? std::string(static_cast<const char*>(value.p)) : std::string();
      break;
  }
  return true;
}

}  // namespace qp
