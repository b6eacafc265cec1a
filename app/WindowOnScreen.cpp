#include "WindowOnScreen.h"

#include <cstdint>

namespace
{
std::int64_t area(juce::Rectangle<int> r)
{
    return (std::int64_t) r.getWidth() * r.getHeight();
}

// The largest content at most room wide and high, at most the current size, held at the ratio and never
// below the minimum.
juce::Point<int> shrunkContent(juce::Point<int> content, juce::Point<int> room,
                               const juce::ComponentBoundsConstrainer& limits)
{
    int width = juce::jmin(content.x, room.x);
    int height = juce::jmin(content.y, room.y);
    if (const double ratio = limits.getFixedAspectRatio(); ratio > 0.0)
    {
        width = juce::roundToInt(height * ratio);
        if (width > room.x)
        {
            width = room.x;
            height = juce::jmin(height, juce::roundToInt(width / ratio));
        }
    }
    return {juce::jmax(width, limits.getMinimumWidth()), juce::jmax(height, limits.getMinimumHeight())};
}
} // namespace

juce::Rectangle<int> wholeOnScreen(juce::Rectangle<int> window,
                                   const std::vector<juce::Rectangle<int>>& userAreas, size_t mainArea,
                                   juce::BorderSize<int> border,
                                   const juce::ComponentBoundsConstrainer& limits)
{
    if (userAreas.empty())
        return window;

    auto screen = userAreas[mainArea < userAreas.size() ? mainArea : 0];
    std::int64_t most = 0;
    for (const auto& candidate : userAreas)
        if (const auto shared = area(candidate.getIntersection(window)); shared > most)
        {
            most = shared;
            screen = candidate;
        }

    if (screen.contains(window))
        return window;

    const juce::Point<int> content{window.getWidth() - border.getLeftAndRight(),
                                   window.getHeight() - border.getTopAndBottom()};
    const juce::Point<int> room{screen.getWidth() - border.getLeftAndRight(),
                                screen.getHeight() - border.getTopAndBottom()};
    if (content.x > room.x || content.y > room.y)
    {
        const auto size = shrunkContent(content, room, limits);
        window.setSize(size.x + border.getLeftAndRight(), size.y + border.getTopAndBottom());
    }

    // Moved in; a window larger than the area keeps its top-left corner (and the title bar) in it.
    window.setPosition(
        juce::jmax(screen.getX(), juce::jmin(window.getX(), screen.getRight() - window.getWidth())),
        juce::jmax(screen.getY(), juce::jmin(window.getY(), screen.getBottom() - window.getHeight())));
    return window;
}

void keepWholeOnScreen(juce::ResizableWindow& window)
{
    std::vector<juce::Rectangle<int>> userAreas;
    size_t mainArea = 0;
    for (const auto& display : juce::Desktop::getInstance().getDisplays().displays)
    {
        if (display.isMain)
            mainArea = userAreas.size();
        userAreas.push_back(display.userArea);
    }

    const auto border = window.getContentComponentBorder();
    juce::ComponentBoundsConstrainer sizeOnly;
    const auto* limits = window.getConstrainer();
    if (limits == nullptr)
    {
        const auto content = border.subtractedFrom(window.getBounds());
        sizeOnly.setMinimumSize(content.getWidth(), content.getHeight());
    }
    const auto fitted = wholeOnScreen(window.getBounds(), userAreas, mainArea, border,
                                      limits != nullptr ? *limits : sizeOnly);
    if (fitted != window.getBounds())
        window.setBounds(fitted);
}
