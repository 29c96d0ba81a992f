#!/bin/sh
# The lower layers never include the windowed parts of Qt nor the higher layers' headers.
root=${1:?source folder}
cd "$root" || exit 2
bad=$(grep -rn -E '#include *[<"](Qt(Widgets|Gui|Multimedia)|QWidget|QApplication|QDialog|QMainWindow|QMessageBox|QPixmap|QIcon|(ui|integration|archive|app)/)' core net engine 2>/dev/null)
if [ -n "$bad" ]; then
  echo "lower layer includes a higher one:"
  echo "$bad"
  exit 1
fi
# Archives sit above the engine and below the windows.
bad=$(grep -rn -E '#include *[<"](Qt(Widgets|Gui|Multimedia)|QWidget|QApplication|QDialog|QMessageBox|(ui|integration|app)/)' archive 2>/dev/null)
if [ -n "$bad" ]; then
  echo "archive includes window code:"
  echo "$bad"
  exit 1
fi
echo "layering: core, net, engine and archive include no window code"
