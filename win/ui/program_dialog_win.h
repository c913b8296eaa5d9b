// What the main dialog of each program has alike: the program's icon on its
// caption and in its place when minimised, the about box, opened from the
// system menu or by a command, and its answer to a change of DPI.
#pragma once

#include "dpi_win.h"
#include "wnd_win.h"

// The about box: a dialog of the program's resources, closed by its OK
// button, Escape or the close box.
class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(UINT template_id) : CDialog(template_id) {}
};

// The resource ids of a program's icon and about box.
struct ProgramDialogIds {
  UINT icon;             // the program's icon
  UINT about_box;        // the about box's dialog template
  UINT about_menu_text;  // the string of its system-menu item (none: no item)
  UINT about_command;    // the system-menu command that opens it
};

class CProgramDialog : public CDialog {
 public:
  CProgramDialog(UINT template_id, const ProgramDialogIds& ids, CWnd* parent = nullptr);

  DECLARE_MESSAGE_MAP()

 protected:
  // Adds the about item to the system menu (when the window has one) and sets
  // the icons; a derived dialog calls it first.
  BOOL OnInitDialog() override;
  void ShowAboutBox();

  // The DPI the window draws at.
  UINT Dpi() const { return m_nDpi; }
  // Places what the template does not, at Dpi(); called after a change of
  // DPI, once the window has its new place and its controls their font.
  virtual void LayOutForDpi() {}

 private:
  void OnSysCommand(WPARAM id);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnDpiChanged(WPARAM dpis, LPARAM suggested);
  void SetIconsForDpi();

  ProgramDialogIds m_ids;
  UINT m_nDpi = marlix::kDesignDpi;
  // The controls' font once the DPI has changed (the template's until then).
  UniqueFont m_font;
  UniqueIcon m_bigIcon;    // the caption's and the minimised window's
  UniqueIcon m_smallIcon;  // the task bar's and the system menu's
};
