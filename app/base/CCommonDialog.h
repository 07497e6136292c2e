// The file, colour and font dialogs as one object of properties:
// set the properties, call one Show operation, test UserCancel, read the
// results. Every dialog goes through the dialog seam (platform/ui).
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <utility>

class QWidget;

namespace base {

class CCommonDialog {
public:
    // Flags of the file dialogs: ask before replacing an existing file; accept
    // only the name of an existing file. The others change nothing here.
    static constexpr int32_t OverwritePrompt = 0x2;
    static constexpr int32_t FileMustExist = 0x1000;
    // Error number of a cancelled colour dialog when CancelError is set.
    static constexpr long CancelErrorNumber = -2147220610;  // &H8004037E

    // A hook told of the file type the user picks (0 the first); true closes
    // the dialog as cancelled. It stays for every later file dialog of this object.
    using UserHook = std::function<bool(int16_t fileType)>;
    void SetUserHook(UserHook hook) { mHook = std::move(hook); }

    void ShowOpen() { ShowFileDialog(1); }
    void ShowSave() { ShowFileDialog(2); }
    void ShowColor();
    void ShowFont();

    bool UserCancel() const { return mUserCancel; }
    int16_t Action() const { return mAction; }
    int32_t APIReturn() const { return mAPIReturn; }

    // Owner window (only used to keep the caller's value).
    QWidget* hWnd = nullptr;
    QString Filter;  // descriptions and patterns, separated by "|"
    QString FileName;
    int16_t FilterIndex = 0;  // the file type shown first (1-based); after a file is chosen, its type
    bool CancelError = false;
    int32_t Color = 0;  // 0x00BBGGRR
    int32_t Copies = 1;
    QString DefaultExt;
    QString DialogTitle;
    int32_t flags = 0;
    bool FontBold = false;
    bool FontItalic = false;
    QString FontName;
    int32_t FontSize = 0;
    bool FontStrikethru = false;
    bool FontUnderline = false;
    int32_t FromPage = 0;
    int32_t HelpCommand = 0;
    QString HelpContext = QStringLiteral("0");
    QString HelpFile;
    QString HelpKey;
    QString InitDir;
    int32_t Max = 0;
    int32_t MaxFileSize = 260;
    int32_t Min = 0;
    bool PrinterDefault = true;
    int32_t ToPage = 0;
    QString FileTitle;

private:
    void ShowFileDialog(int kind);
    void Begin();

    bool mUserCancel = false;
    int16_t mAction = 0;
    int32_t mAPIReturn = 0;
    UserHook mHook;
};

}  // namespace base
