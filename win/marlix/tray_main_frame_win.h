// The hidden main window of a running Marlix: it owns the notification-area
// icon and the global key, opens the search window from either and ends the
// program on close.
#pragma once

#include <memory>
#include <optional>

#include <windows.h>

#include "wnd_win.h"

class CSearchDlg;

class CTrayMainFrame : public CFrameWnd {
 public:
  // Creates the (invisible) window; its creation adds the icon.
  CTrayMainFrame();
  ~CTrayMainFrame() override;

  DECLARE_MESSAGE_MAP()

 protected:
  LRESULT OnCreate();
  void OnClose();
  void OnExit();
  LRESULT OnTrayNotify(WPARAM anchor, LPARAM event);
  void OnHotKey(WPARAM id);
  LRESULT OnOpenKeyChanged();
  void OnOpenKeyTaken();
  LRESULT OnWindowPosChanging(WPARAM, LPARAM window_pos);

  // Explorer announces a new notification area with a registered message,
  // whose number is known only at run time.
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void PostNcDestroy() override;

  CSearchDlg* m_pSearchDlg = nullptr;
  std::unique_ptr<CMenu> m_pTrayMenu;

 private:
  void AddIcon();
  void OpenSearchWindow();
  void ShowTrayMenu(std::optional<POINT> at);

  UINT m_nTaskbarCreated;
  // The shell took NOTIFYICON_VERSION_4: it tells the icon's choice and its
  // menu request, with the place to open the menu at.
  bool m_bIconVersion4 = false;
};
