// The image beside the "Kestrin" menu item, a padlock, as shapes on a 16 x 16
// grid painted in order: each a rectangle with rounded corners (a circle when
// the radius is half its side) filled with one colour (0xAARRGGBB), or made
// transparent again by the colour 0. Being shapes, it is drawn sharp at
// whatever size the menu asks for.
#pragma once

struct CMenuShape {
    float x0, y0, x1, y1;
    float radius;
    unsigned argb;
};

const float kMenuShapeGrid = 16.0f;

const CMenuShape kMenuPadlock[] = {
    {3.5f, 1.5f, 12.5f, 10.5f, 4.5f, 0xFF6A6A6A},   // shackle
    {5.3f, 3.3f, 10.7f, 8.7f, 2.7f, 0x00000000},    // its opening
    {2.0f, 7.5f, 14.0f, 15.0f, 1.6f, 0xFF8A6400},   // body
    {3.1f, 8.6f, 12.9f, 13.9f, 0.8f, 0xFFF2C230},   // its face
    {6.7f, 9.4f, 9.3f, 12.0f, 1.3f, 0xFF3C2800},    // keyhole
    {7.4f, 10.5f, 8.6f, 13.0f, 0.4f, 0xFF3C2800},
};
