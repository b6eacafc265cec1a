#pragma once

// Decodes into the image cache the embedded pictures that the panel, its fader thumbs, the loopback dialog
// and the About box decode while they are built. A caller with time to spare before it builds the panel (the
// program, while the system fonts are scanned) takes that work off the panel's construction; the panel then
// finds the pictures in the cache. Message thread only; the cache keeps them for a few seconds.
void preloadPanelPictures();
