// What the main dialog of each program has alike: the program's icon on its
// caption and in its place when minimised, and the about box, opened from the
// system menu or by a command.
#pragma once

#include "wnd_win.h"

// The about box: a dialog of the program's resources, closed by its OK
// button, Escape or the close box.
class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(UINT templateId) : CDialog(templateId) {}
};

// The resource ids of a program's icon and about box.
struct ProgramDialogIds {
  UINT icon;           // the program's icon
  UINT aboutBox;       // the about box's dialog template
  UINT aboutMenuText;  // the string of its system-menu item (none: no item)
  UINT aboutCommand;   // the system-menu command that opens it
};

class CProgramDialog : public CDialog {
 public:
  CProgramDialog(UINT templateId, const ProgramDialogIds& ids, CWnd* parent = nullptr);

  DECLARE_MESSAGE_MAP()

 protected:
  // Adds the about item to the system menu (when the window has one) and sets
  // the icons; a derived dialog calls it first.
  BOOL OnInitDialog() override;
  void ShowAboutBox();

 private:
  void OnSysCommand(WPARAM id);
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  ProgramDialogIds m_ids;
  HICON m_hIcon;  // shared resource icon: the system owns it
};
