/* The command line's names of the blob measures. Lengths and areas are in
 * client units (pixels without --calibration); boxes "at the angle" use
 * --angle, "principal" boxes the blob's principal axis. */
#include "measure_names.h"

#include <string.h>

static const tool_measureName kNames[] = {
    {1, "colour", "1 for an object, 0 for a hole", 0},
    {2, "area", "area (pixel count, or summed weight of grey runs)", 0},
    {3, "boundary_steps", "steps of the outer boundary chain code", 0},
    {4, "perimeter", "perimeter of the outer boundary", 0},
    {5, "num_children", "number of blobs directly inside this one", 0},
    {6, "center_x", "centre of mass, x", 0},
    {7, "center_y", "centre of mass, y", 0},
    {8, "inertia_x", "central second moment about the vertical axis (sum of (x - cx)^2)", 0},
    {9, "inertia_y", "central second moment about the horizontal axis (sum of (y - cy)^2)", 0},
    {10, "inertia_min", "minor principal moment", 0},
    {11, "inertia_max", "major principal moment", 0},
    {12, "elongation", "major over minor principal moment", 0},
    {13, "angle_deg", "angle of the principal axis", 1},
    {14, "compactness", "perimeter^2 / (4 pi area): 1 for a disc, larger otherwise", 0},
    {15, "acircularity", "1 + rms deviation of the boundary from the equal-area circle, over its radius", 0},
    {16, "interior", "1 when the blob touches neither the image edge nor the mask edge", 0},
    {17, "box_center_x", "centre of the bounding box, x", 0},
    {18, "box_center_y", "centre of the bounding box, y", 0},
    {19, "box_left", "left edge of the bounding box", 0},
    {20, "box_right", "right edge of the bounding box (left + width)", 0},
    {21, "box_top", "top edge of the bounding box", 0},
    {22, "box_bottom", "bottom edge of the bounding box (top + height)", 0},
    {23, "box_width", "bounding box width", 0},
    {24, "box_height", "bounding box height", 0},
    {25, "box_aspect", "bounding box height over width", 0},
    {26, "median_x", "median point along the --angle axes, x", 0},
    {27, "median_y", "median point along the --angle axes, y", 0},
    {28, "angle_box_center_x", "centre of the box at --angle, x", 0},
    {29, "angle_box_center_y", "centre of the box at --angle, y", 0},
    {30, "angle_box_min_u", "box at --angle: lowest u, from the centre of mass", 0},
    {31, "angle_box_max_u", "box at --angle: highest u, from the centre of mass", 0},
    {32, "angle_box_min_v", "box at --angle: lowest v, from the centre of mass", 0},
    {33, "angle_box_max_v", "box at --angle: highest v, from the centre of mass", 0},
    {34, "angle_box_width", "box at --angle: extent along the angle", 0},
    {35, "angle_box_height", "box at --angle: extent across the angle", 0},
    {36, "angle_box_aspect", "box at --angle: height over width", 0},
    {37, "principal_median_x", "median point along the principal axes, x", 0},
    {38, "principal_median_y", "median point along the principal axes, y", 0},
    {39, "principal_box_center_x", "centre of the principal-axis box, x", 0},
    {40, "principal_box_center_y", "centre of the principal-axis box, y", 0},
    {41, "principal_box_min_u", "principal-axis box: lowest u, from the centre of mass", 0},
    {42, "principal_box_max_u", "principal-axis box: highest u, from the centre of mass", 0},
    {43, "principal_box_min_v", "principal-axis box: lowest v, from the centre of mass", 0},
    {44, "principal_box_max_v", "principal-axis box: highest v, from the centre of mass", 0},
    {45, "principal_box_width", "principal-axis box: extent along the major axis", 0},
    {46, "principal_box_height", "principal-axis box: extent along the minor axis", 0},
    {47, "principal_box_aspect", "principal-axis box: height over width", 0},
};

const tool_measureName *tool_measureNames(int32_t *count) {
    *count = (int32_t)(sizeof kNames / sizeof kNames[0]);
    return kNames;
}

const tool_measureName *tool_findMeasure(const char *name) {
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i)
        if (strcmp(kNames[i].name, name) == 0) return &kNames[i];
    return NULL;
}
