#!/bin/sh
# The lower layers never include the windowed parts of Qt nor the higher layers' headers.
root=${1:?source folder}
cd "$root" || exit 2
windows='Qt(Widgets|Gui|Multimedia)|QWidget|QApplication|QDialog|QMainWindow|QMessageBox|QPixmap|QIcon'
bad=$(grep -rn -E "#include *[<\"]($windows|(ui|integration|archive|app)/)" core net engine 2>/dev/null)
# The archive layer sits above the engine and below the windows.
bad="$bad$(grep -rn -E "#include *[<\"]($windows|(ui|integration|app)/)" archive 2>/dev/null)"
# The update check and install sit above the archives; the updater's core shares the lowest rung.
bad="$bad$(grep -rn -E "#include *[<\"]($windows|(ui|integration|app)/)" update 2>/dev/null)"
bad="$bad$(grep -rn -E "#include *[<\"]($windows|(ui|integration|app|update|archive|engine|net)/)" \
    updater/updater_arguments.* updater/update_copy.* 2>/dev/null)"
if [ -n "$bad" ]; then
  echo "lower layer includes a higher one:"
  echo "$bad"
  exit 1
fi
echo "layering: core, net, engine, archive, update and the updater's core include no window code"
