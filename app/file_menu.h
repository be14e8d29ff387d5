#pragma once
// The window's File menu: the Config Memory page's profiles and image
// files, and the command scripts of the Command page.
class QMenu;
class TTarnwickForm;

// Builds the menu in front of the Help menu and connects its entries.
QMenu* BuildFileMenu(TTarnwickForm& form);
