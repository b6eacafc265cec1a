#include "PelkVODApplication.h"

#include "CommandLine.h"
#include "DisplayCheck.h"
#include "FontFolders.h"
#include "MainComponent.h"
#include "PanelPictures.h"
#include "PanelSize.h"
#include "SettingsFile.h"
#include "SimControl.h"
#include "WindowOnScreen.h"

#include <cstdio>

using pelk::program::CommandLineSwitch;
using pelk::program::matchCommandLine;

namespace
{
void errorLine(const juce::String& text)
{
    std::fprintf(stderr, "%s\n", text.toRawUTF8());
    std::fflush(stderr);
}

// The framework scans every font file in its font folders (narrowed at start, see FontFolders.h) the first
// time any text is measured or drawn (here the panel's menu bar, while the panel is built), and keeps the
// list in a singleton that is not guarded against two threads. Nothing in the program touches fonts before
// the panel is built, so the scan runs on its own thread from the start and is joined before the panel is
// built.
void scanFonts()
{
    juce::Font::findAllTypefaceNames();
}

// Factory settings asked for on the command line at start-up ("/default", "/defaults", "/init"): applied
// here, after the window is shown and before the window state is forgotten the second time and before
// "/init" stops the program. They are the final state: the monitoring restore that device ready left for
// the event loop runs first, except with "/init", whose event loop never runs and so drops it unrun.
void applyFactorySettingsAtStart(MainComponent& panel, CommandLineSwitch commandSwitch)
{
    if (commandSwitch == CommandLineSwitch::init)
        panel.voidPendingRestore();
    panel.setFactoryDefaults();
}

// Factory settings asked for by a later launch with "/default" or "/defaults", before the window state is
// forgotten and the program comes forward.
void applyFactorySettingsOnLaterLaunch(MainComponent& panel)
{
    panel.setFactoryDefaults();
}
} // namespace

//==============================================================================
PelkVODApplication::MainWindow::MainWindow(const juce::String& name)
    : juce::DocumentWindow(name, juce::Colours::lightgrey, juce::DocumentWindow::allButtons)
{
    setUsingNativeTitleBar(false);
}

PelkVODApplication::MainWindow::~MainWindow()
{
    // The bar goes before the panel that is its model and look; the constrainer before the window.
    setMenuBar(nullptr);
    setConstrainer(nullptr);
    constrainer.reset();
}

void PelkVODApplication::MainWindow::closeButtonPressed()
{
    if (auto* panel = getPanel())
        panel->savedWindowPosition(getWindowStateAsString());

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void PelkVODApplication::MainWindow::maximiseButtonPressed()
{
    if (isZoomed())
    {
        // Back to the size before the zoom; a window that reached its largest size otherwise (restored at
        // it, or dragged to it) goes back to the default size, so the button never does nothing.
        if (boundsBeforeZoom.isEmpty() && constrainer != nullptr)
            setBounds(constrainer->boundsForContentSize(PanelSize::defaultWidth, PanelSize::defaultHeight));
        else
            setBounds(boundsBeforeZoom.withPosition(getPosition()));
        boundsBeforeZoom = {};
        return;
    }
    zoom();
}

void PelkVODApplication::MainWindow::zoom()
{
    if (constrainer == nullptr)
        return;

    boundsBeforeZoom = getBounds();
    setBounds(
        constrainer->boundsForContentSize(constrainer->getMaximumWidth(), constrainer->getMaximumHeight()));
}

bool PelkVODApplication::MainWindow::isZoomed() const
{
    const auto* content = getContentComponent();
    return constrainer != nullptr && content != nullptr &&
           content->getWidth() == constrainer->getMaximumWidth() &&
           content->getHeight() == constrainer->getMaximumHeight();
}

MainComponent* PelkVODApplication::MainWindow::getPanel() const
{
    return dynamic_cast<MainComponent*>(getContentComponent());
}

void PelkVODApplication::MainWindow::installMenuBar()
{
    auto* panel = getPanel();
    if (panel == nullptr)
        return;

    // The bar takes its height from the panel for now; the restore or the centring that follows gives the
    // window its size (resizing back here would rescale the panel's pictures once more for nothing).
    setMenuBar(panel, menuBarHeight);
    if (auto* bar = getMenuBarComponent())
        bar->setLookAndFeel(panel->popupMenuLookAndFeel.get());
}

void PelkVODApplication::MainWindow::installConstrainer()
{
    constrainer = std::make_unique<ContentBorderConstrainer>(*this);
    constrainer->setFixedAspectRatio(PanelSize::aspectRatio);
    constrainer->setSizeLimits(PanelSize::minimumWidth, PanelSize::minimumHeight, PanelSize::maximumWidth,
                               PanelSize::maximumHeight);
    setConstrainer(constrainer.get());
}

bool PelkVODApplication::MainWindow::restoreState(const juce::String& state)
{
    auto tokens = juce::StringArray::fromTokens(state, false);
    tokens.removeEmptyStrings();
    const bool fullScreen = tokens[0].startsWithIgnoreCase("fs");
    if (fullScreen)
        tokens.remove(0);

    if (!restoreWindowStateFromString(tokens.joinIntoString(" ")))
        return false;

    if (fullScreen)
        zoom();
    return true;
}

void PelkVODApplication::MainWindow::centreContent(int width, int height)
{
    const auto border = getContentComponentBorder();
    centreWithSize(width + border.getLeftAndRight(), height + border.getTopAndBottom());
}

//==============================================================================
PelkVODApplication::PelkVODApplication()
{
    // Before any other thread runs (it sets an environment variable) and before any font is used.
    pelk::program::narrowFontFolders();

    // Installed first, so a logout or `kill` during start-up already ends the program through its own
    // quit path once the event loop runs.
    quitSignals = std::make_unique<pelk::program::QuitSignals>([this] { systemRequestedQuit(); });
}

PelkVODApplication::~PelkVODApplication()
{
    if (fontScan.joinable())
        fontScan.join();
    mainWindow.reset();
    instance.reset();
    quitSignals.reset();
}

bool PelkVODApplication::moreThanOneInstanceAllowed()
{
    // The framework's single-instance lock on Linux is one file per machine, shared by every user, and it
    // cannot hand a later launch's command line over. initialise() keeps one instance per user through
    // SingleInstance instead, so the framework's own check stays off.
    return true;
}

void PelkVODApplication::initialise(const juce::String& commandLine)
{
    // The settings folder guards one instance when the runtime folder is missing or unusable.
    const juce::File settingsFolder(makeSettingsOptions().folderName);
    instance = std::make_unique<pelk::program::SingleInstance>(
        pelk::program::SingleInstance::defaultFolders(settingsFolder));
    const auto role = instance->claim(commandLine);
    for (const auto& line : instance->diagnostics())
        errorLine(line);

    if (role == pelk::program::SingleInstance::Role::handedOver)
    {
        instance.reset();
        requestStop();
        return;
    }
    const auto commandSwitch = matchCommandLine(commandLine);

    // "/shutdown" with no instance running: no window, nothing stored, the interface untouched.
    if (commandSwitch == CommandLineSwitch::shutdown)
    {
        requestStop();
        return;
    }

    // Without a display no window can be made (the framework would crash placing the first one): one line
    // says why, and the program ends with status 1, leaving no lock file, socket or folder of its own.
    if (const auto problem = pelk::program::unreachableDisplay())
    {
        errorLine(*problem);
        if (instance != nullptr)
            instance->releaseAndRemove();
        setApplicationReturnValue(1);
        requestStop();
        return;
    }

    fontScan = std::thread(scanFonts);

    // "/default", "/defaults" and "/init" forget the stored window state and end with the factory settings.
    const bool reset = pelk::program::isResetCommandLine(commandLine);

    // The simulated machine runs only in the process that shows the panel. Its run-loop deliveries are
    // posted to the framework's message loop, so each keeps its place among the other messages; this thread,
    // the message thread, is its main thread.
    platform::sim::MainThreadLoop messageLoop;
    messageLoop.post = [](std::function<void()> call) { juce::MessageManager::callAsync(std::move(call)); };
    platform::sim::setMainThreadLoop(std::move(messageLoop));
    for (const auto& line : platform::sim::startFromEnvironment())
        errorLine(line);
    simulatorStarted = true;

    // The main window, with the panel as its content and its menu bar.
    auto window = std::make_unique<MainWindow>(getApplicationName() + " v" + getApplicationVersion());
    // The panel's pictures are decoded while the font scan finishes; the panel is built once it has.
    preloadPanelPictures();
    fontScan.join();
    window->setContentOwned(new MainComponent(), true);
    window->installMenuBar();

    // Size limits and aspect ratio for the area inside the window's frame.
    window->installConstrainer();

    auto* panel = window->getPanel();

    // A reset forgets the stored window state before it could be restored.
    if (reset && panel != nullptr)
        panel->savedWindowPosition({});

    // The stored window state, restored once the window is resizable; a full-screen state opens zoomed.
    juce::String state;
    if (panel != nullptr)
        if (auto* settings = panel->appProperties.getUserSettings())
            state = settings->getValue(SettingsKeys::windowPosition, SettingsDefaults::windowPosition);
    window->setResizable(true, true);
    const bool restored = window->restoreState(state);

    // A reset, or a state that cannot be restored, opens the window at the default size, centred.
    if (reset || !restored)
        window->centreContent(PanelSize::defaultWidth, PanelSize::defaultHeight);

    // The window is shown and becomes the program's main window.
    window->setVisible(true);
    mainWindow = std::move(window);

    // A reset ends with the factory settings and forgets the window state once more. Any other start
    // reports the panel's place on the screen: as it is, then with an x of 0 or less given as 0 and a y of
    // 0 or less as 30.
    if (panel != nullptr)
    {
        if (reset)
        {
            applyFactorySettingsAtStart(*panel, commandSwitch);
            panel->savedWindowPosition({});
        }
        else
        {
            const auto pos = panel->getScreenPosition();
            errorLine("POS: " + juce::String(pos.x) + " " + juce::String(pos.y));
            errorLine("POS: Korr: " + juce::String(pos.x <= 0 ? 0 : pos.x) + " " +
                      juce::String(pos.y <= 0 ? 30 : pos.y));
        }
    }

    // Wherever the placement and the restore put it, the window ends up whole on a screen (its title bar
    // is its only handle), shrunk where it must be; a window that fits stays where it is.
    keepWholeOnScreen(*mainWindow);

    // "/init" ends before the event loop runs, so only what reaches the interface at once is applied.
    if (commandSwitch == CommandLineSwitch::init)
    {
        requestStop();
        return;
    }

    // Later launches are taken once the event loop is sure to run: one taken before a stop requested here
    // would be dropped with the loop, while a later launch that is not taken waits for the lock instead.
    // Launches made during the start-up have been waiting in the socket's backlog and are taken now.
    instance->startListening([this](const juce::String& text) { anotherInstanceStarted(text); });
}

void PelkVODApplication::shutdown()
{
    if (mainWindow != nullptr)
    {
        const auto state = mainWindow->getWindowStateAsString();
        if (auto* panel = mainWindow->getPanel())
            panel->savedWindowPosition(state);
        mainWindow.reset();
    }

    if (simulatorStarted)
    {
        platform::sim::stopFromEnvironment();
        simulatorStarted = false;
    }

    if (instance != nullptr)
        instance->release();
}

void PelkVODApplication::anotherInstanceStarted(const juce::String& commandLine)
{
    const auto commandSwitch = matchCommandLine(commandLine);

    if (mainWindow != nullptr)
        if (auto* panel = mainWindow->getPanel())
        {
            if (commandSwitch == CommandLineSwitch::defaults)
            {
                applyFactorySettingsOnLaterLaunch(*panel);
                panel->savedWindowPosition({});
            }
            bringForward();
        }

    if (commandSwitch == CommandLineSwitch::shutdown || commandSwitch == CommandLineSwitch::init)
        requestStop();
}

void PelkVODApplication::systemRequestedQuit()
{
    requestStop();
}

void PelkVODApplication::requestStop()
{
    // Later launches from now on wait for this instance to end and then start afresh, instead of handing
    // their command lines to an event loop that will not run them.
    if (instance != nullptr)
        instance->stopAccepting();
    juce::MessageManager::getInstance()->stopDispatchLoop();
}

void PelkVODApplication::bringForward()
{
    if (mainWindow->isMinimised())
        mainWindow->setMinimised(false);
    if (auto* panel = mainWindow->getPanel())
        panel->setVisible(true);
    mainWindow->setVisible(true);
    mainWindow->toFront(true);
}
