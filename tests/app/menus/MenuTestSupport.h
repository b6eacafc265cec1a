// Helpers of the menu tests: a readable description of a popup menu, the panel inside a main window as
// the program shows it, a capture of standard error, and counters of the panel's change and rebuild
// notifications.
#pragma once

#include "AboutWindow.h"
#include "PanelTestSupport.h"
#include "PatchGridLoopbackDialog.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace menutest
{
using namespace paneltest;

// One line per item: "<id> '<text>' on|off x|-" (enabled, ticked), "---" for a separator, "> '<name>' on|off"
// for a submenu followed by its items indented by two blanks.
inline std::vector<std::string> describe(const juce::PopupMenu& menu, const std::string& indent = "")
{
    std::vector<std::string> lines;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.isSeparator)
            lines.push_back(indent + "---");
        else if (item.subMenu != nullptr)
        {
            lines.push_back(indent + "> '" + item.text.toStdString() + "' " +
                            (item.isEnabled ? "on" : "off"));
            for (const auto& line : describe(*item.subMenu, indent + "  "))
                lines.push_back(line);
        }
        else
            lines.push_back(indent + std::to_string(item.itemID) + " '" + item.text.toStdString() + "' " +
                            (item.isEnabled ? "on" : "off") + " " + (item.isTicked ? "x" : "-"));
    }
    return lines;
}

// The texts of the ticked items of a menu and its submenus.
inline std::vector<std::string> tickedItems(const juce::PopupMenu& menu)
{
    std::vector<std::string> ticked;
    for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
        if (it.getItem().isTicked)
            ticked.push_back(it.getItem().text.toStdString());
    return ticked;
}

// Standard error redirected into a file while the capture lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved = ::dup(2);
        file = std::tmpfile();
        ::dup2(::fileno(file), 2);
    }
    ~StderrCapture()
    {
        restore();
        std::fclose(file);
    }

    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        saved = -1;
    }

    std::string text()
    {
        std::fflush(stderr);
        std::string all;
        std::rewind(file);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
            all.append(buffer, n);
        return all;
    }

private:
    int saved = -1;
    FILE* file = nullptr;
};

// Counts the change messages the panel broadcasts and the menu rebuilds it asks for.
struct NotificationCounter : juce::ChangeListener, juce::MenuBarModel::Listener
{
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++changes; }
    void menuBarItemsChanged(juce::MenuBarModel*) override { ++rebuilds; }
    void menuCommandInvoked(juce::MenuBarModel*,
                            const juce::ApplicationCommandTarget::InvocationInfo&) override
    {
    }
    int changes = 0;
    int rebuilds = 0;
};

// A main window with a JUCE-drawn title bar that shows the panel and carries its menus, as the program
// sets it up; it does not own the panel.
class PanelWindow : public juce::DocumentWindow
{
public:
    explicit PanelWindow(MainComponent& panel)
        : juce::DocumentWindow("Pelk VOD Panel v1.5.0.0", juce::Colours::lightgrey,
                               juce::DocumentWindow::allButtons)
    {
        setUsingNativeTitleBar(false);
        setMenuBar(&panel, 24);
        setContentNonOwned(&panel, true);
    }
    ~PanelWindow() override
    {
        setMenuBar(nullptr);
        clearContentComponent();
    }
    void closeButtonPressed() override {}
};

// The panel fixture with an optional main window around the panel.
class MenuTest : public PanelTest
{
protected:
    void TearDown() override
    {
        window.reset();
        PanelTest::TearDown();
    }

    // Puts the panel into a shown main window whose content (the panel) is 316 x 486 at (x, y).
    PanelWindow& showInWindow(int x = 200, int y = 100)
    {
        window = std::make_unique<PanelWindow>(*panel);
        const auto border = window->getContentComponentBorder();
        window->setBounds(x - border.getLeft(), y - border.getTop(), 316 + border.getLeftAndRight(),
                          486 + border.getTopAndBottom());
        window->setVisible(true);
        settle();
        return *window;
    }

    std::unique_ptr<PanelWindow> window;
};
} // namespace menutest
