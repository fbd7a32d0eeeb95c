#pragma once

class QCoreApplication;

namespace quillpost {

// Installs Qt's own Simplified Chinese translations into the application, so that the texts
// Qt produces itself (network errors, standard buttons, edit menus) read in the user's language.
// Returns false when the translation files are not installed.
bool installQtTranslations(QCoreApplication &application);

} // namespace quillpost
