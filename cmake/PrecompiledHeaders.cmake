# Precompiled headers: the Qt, standard-library, GoogleTest and cpp-httplib
# headers that most of a target's sources include are compiled once per
# target instead of once per source file. clang only: gcc's precompiled
# header of the same set (about 180 MB with debug information and the
# sanitizers) made each source file slower to compile, not faster. Configure with
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON to build without them (e.g. to check
# that every source names its own includes).
#
#   tessaron_precompile_headers(<target> [<header>...])   common set plus extras

set(TESSARON_COMMON_HEADERS
  <algorithm> <atomic> <chrono> <cstdint> <functional> <map> <memory> <mutex>
  <optional> <string> <thread> <utility> <vector>
  <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QJsonArray>
  <QJsonDocument> <QJsonObject> <QSet> <QString> <QStringList>)

# The widgets most of the tray application's windows are made of.
set(TESSARON_WIDGET_HEADERS
  <QCheckBox> <QDialog> <QFormLayout> <QHBoxLayout> <QLabel> <QLineEdit>
  <QObject> <QPointer> <QPushButton> <QUrl> <QVBoxLayout> <QWidget>)

function(tessaron_precompile_headers target)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  target_precompile_headers(${target} PRIVATE ${TESSARON_COMMON_HEADERS} ${ARGN})
endfunction()
