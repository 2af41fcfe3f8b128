// The selector's dialog on either backend.
#include "platform/dialog.h"

#include "platform/dialog_canvas.h"
#include "platform/platform.h"

int RunDialog(const std::u16string& title, const DialogProgram& program, std::string* error) {
  std::string reason;
  DialogCanvas* canvas = OpenDialogCanvas(program, &reason);
  if (canvas == nullptr) {
    if (error != nullptr) *error = reason;
    return 1;
  }
  int status = 0;
  if (IsHeadless()) {
    RunHeadlessDialog(program, canvas);
  } else {
    status = RunSdlDialog(title, program, canvas, &reason);
    if (status != 0 && error != nullptr) *error = reason;
  }
  CloseDialogCanvas(canvas);
  return status;
}
