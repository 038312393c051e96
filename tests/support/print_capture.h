// Collects what the storage-area library's pb_printf prints.
#ifndef QUIRE_TESTS_SUPPORT_PRINT_CAPTURE_H_
#define QUIRE_TESTS_SUPPORT_PRINT_CAPTURE_H_

#include <string>

#include "quire/plotbase.h"

namespace quire::testing {

// Installs itself as pb_printf's handler while it lives and keeps the text.
class PrintCapture {
 public:
  PrintCapture() { pb_set_print_handler(&PrintCapture::append, this); }
  ~PrintCapture() { pb_set_print_handler(nullptr, nullptr); }
  PrintCapture(const PrintCapture&) = delete;
  PrintCapture& operator=(const PrintCapture&) = delete;

  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  static void append(const char* text, void* context) {
    static_cast<PrintCapture*>(context)->text_ += text;
  }
  std::string text_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_PRINT_CAPTURE_H_
