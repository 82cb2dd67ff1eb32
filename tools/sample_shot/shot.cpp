// Whole shots: the two lens files of one press of the shutter.
#include "sample_shot.h"

namespace orbv_sample {

Shot shot_files(const std::string& directory, const ShotOptions& o) {
    const std::string stem = directory + "/" + o.name;
    const char* ext = o.stills ? ".jpg" : ".mov";
    return Shot{stem + "_lens1" + ext, stem + "_lens2" + ext};
}

Shot make_shot(const std::string& directory, const ShotOptions& o) {
    Shot shot = shot_files(directory, o);
    LensRenderer renderer(o.lens_width);
    if (o.stills) {
        write_still(shot.lens1, renderer.render(1, 0), &o.camera);
        write_still(shot.lens2, renderer.render(2, 0), &o.camera);
        return shot;
    }
    MovieOptions m;
    m.width = m.height = o.lens_width;
    m.frames = o.frames;
    m.b_frames = o.b_frames;
    m.sound = o.sound;
    m.channels = o.channels;
    m.sample_rate = o.sample_rate;
    m.sound_seconds = o.sound_seconds;
    m.preset = o.preset;
    m.camera = o.camera;
    for (int lens = 1; lens <= 2; ++lens) {
        m.picture = [&renderer, lens](int frame) { return renderer.render(lens, frame); };
        write_movie(lens == 1 ? shot.lens1 : shot.lens2, m);
    }
    return shot;
}

}  // namespace orbv_sample
