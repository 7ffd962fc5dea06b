#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "detection/FaceAverager.h"
#include "detection/VectorDistance.h"

using namespace vision;

namespace {

struct Frame {
    std::vector<FaceInfo*> faces;
    ~Frame() {
        for (FaceInfo* f : faces) delete f;
    }
    Frame& face(int x, int y, int w, float score = 1, bool inplane = true, float angle = 0) {
        FaceInfo* f = new FaceInfo();
        f->bbx_x = x;
        f->bbx_y = y;
        f->bbx_width = w;
        f->bbx_height = w;
        f->score = score;
        f->inplane = inplane;
        f->outplane = !inplane;
        f->angle = angle;
        faces.push_back(f);
        return *this;
    }
};

void feed(FaceAverager& a, Frame& f) {
    a.add((int)f.faces.size(), f.faces.data());
    a.average();
}

}  // namespace

TEST(FaceAverager, RokelDistanceBoundary) {
    FaceTrackingSettings s(2, 320, 240);
    ASSERT_EQ(s.max_distance.value, 900);
    struct Case {
        int dx, dy;
        int tracks;  // faces reported after the move
    } cases[] = {{29, 0, 1}, {30, 0, 2}, {0, 29, 1}, {0, 30, 2}, {21, 21, 1}, {22, 21, 2}};
    for (const Case& c : cases) {
        RokelFaceAverager a(&s, false);
        Frame first, moved;
        first.face(100, 100, 40);
        feed(a, first);
        ASSERT_EQ(a.n_faces, 1);
        // The old track is still active, so an unmatched face opens the second slot.
        moved.face(100 + c.dx, 100 + c.dy, 40).face(100, 100, 40);
        feed(a, moved);
        EXPECT_EQ(a.n_faces, c.tracks) << c.dx << "," << c.dy;
    }
}

TEST(FaceAverager, HistoryIsARingOfAveragerLength) {
    FaceTrackingSettings s(1, 320, 240);
    RokelFaceAverager a(&s, false);
    ASSERT_EQ(a.length, 6);
    for (int i = 0; i < 6; i++) {
        Frame f;
        f.face(100 + i, 50, 40 + i, (float)i);
        feed(a, f);
    }
    ASSERT_EQ(a.n_faces, 1);
    EXPECT_EQ(a.faces[0]->bbx_x, 102);      // (100 + ... + 105) / 6 = 102.5 truncated
    EXPECT_EQ(a.faces[0]->bbx_width, 42);   // (40 + ... + 45) / 6
    EXPECT_FLOAT_EQ(a.faces[0]->score, 2.5f);
    EXPECT_EQ(a.current[0], 0);
    Frame seventh;
    seventh.face(112, 50, 52, 12);  // overwrites the entry of the first frame
    feed(a, seventh);
    EXPECT_EQ(a.current[0], 1);
    EXPECT_EQ(a.faces[0]->bbx_x, (101 + 102 + 103 + 104 + 105 + 112) / 6);
    EXPECT_EQ(a.faces[0]->bbx_width, (41 + 42 + 43 + 44 + 45 + 52) / 6);
    EXPECT_FLOAT_EQ(a.faces[0]->score, (1 + 2 + 3 + 4 + 5 + 12) / 6.0f);
    EXPECT_EQ(a.faces[0]->left_eye_x >= 0, true);  // eyes follow the averaged box
}

TEST(FaceAverager, EndedTrackGivesUpItsNumber) {
    FaceTrackingSettings s(4, 320, 240);
    RokelFaceAverager a(&s, false);
    Frame two, second;
    two.face(10, 10, 40).face(200, 100, 40);
    feed(a, two);
    ASSERT_EQ(a.n_faces, 2);
    EXPECT_EQ(a.faces[0]->id, 0);
    EXPECT_EQ(a.faces[1]->id, 1);
    second.face(201, 101, 40);
    feed(a, second);
    ASSERT_EQ(a.n_faces, 1);
    EXPECT_EQ(a.faces[0]->id, 0);
    EXPECT_EQ(a.faces[0]->bbx_x, 200);
    EXPECT_FALSE(a.active[0]);
    EXPECT_TRUE(a.active[1]);
    // The remaining track is matched against its own last output, not the first output slot.
    Frame third;
    third.face(202, 102, 40);
    feed(a, third);
    ASSERT_EQ(a.n_faces, 1);
    EXPECT_TRUE(a.active[1]);
    EXPECT_EQ(a.faces[0]->bbx_x, 201);
}

TEST(FaceAverager, PlaneOfTheHigherMeanScore) {
    FaceTrackingSettings s(1, 320, 240);
    struct Case {
        std::vector<std::pair<bool, float>> entries;  // inplane?, score; angle = score * 10
        bool inplane;
        float score, angle;
    } cases[] = {
        {{{true, 0}, {true, 0}}, false, 0, 0},  // in-plane mean 0 is not above the empty out-plane mean
        {{{true, 2}, {false, 1}}, true, 2, 20},
        {{{true, 1}, {false, 3}, {false, 1}}, false, 2, 20},
        {{{true, -1}}, false, 0, 0},
    };
    for (const Case& c : cases) {
        RokelFaceAverager a(&s, false);
        for (auto& e : c.entries) {
            Frame f;
            f.face(50, 50, 40, e.second, e.first, e.second * 10);
            feed(a, f);
        }
        ASSERT_EQ(a.n_faces, 1);
        EXPECT_EQ(a.faces[0]->inplane, c.inplane);
        EXPECT_EQ(a.faces[0]->outplane, !c.inplane);
        EXPECT_FLOAT_EQ(a.faces[0]->score, c.score);
        EXPECT_FLOAT_EQ(a.faces[0]->angle, c.angle);
    }
}

TEST(FaceAverager, FacesBeyondTheTracksAreDroppedAndResetEmpties) {
    FaceTrackingSettings s(2, 320, 240);
    RokelFaceAverager a(&s, false);
    Frame three;
    three.face(10, 10, 20).face(100, 10, 20).face(200, 10, 20);
    feed(a, three);
    EXPECT_EQ(a.n_faces, 2);
    EXPECT_EQ(a.faces[1]->bbx_x, 100);
    a.reset();
    EXPECT_EQ(a.n_faces, 0);
    a.average();
    EXPECT_EQ(a.n_faces, 0);
}

TEST(FaceAverager, VimboCorrelationAndNull) {
    FaceTrackingSettings s(2, 320, 240);
    {
        VimboFaceAverager a(&s, false);
        Frame f1, f2;
        f1.face(100, 100, 40);
        feed(a, f1);
        f2.face(130, 100, 80).face(130, 100, 40);  // d = 900 matches (<=); width +40 matches, second joins too
        feed(a, f2);
        EXPECT_EQ(a.n_faces, 1);
        Frame f3;
        f3.face(100, 100, 101);  // width jump above max_delta_width
        feed(a, f3);
        EXPECT_EQ(a.n_faces, 1);
        EXPECT_EQ(a.faces[0]->bbx_width, 101);
    }
    {
        stdCorrelationFaceAverager a(&s, false);
        Frame f1, f2;
        f1.face(10, 20, 40);
        feed(a, f1);
        f2.face(20, 40, 80);  // (30,40,40) and (60,80,80) are perfectly correlated
        feed(a, f2);
        EXPECT_EQ(a.n_faces, 1);
        EXPECT_EQ(a.faces[0]->bbx_x, 15);
    }
    {
        NullFaceAverager a(&s, false);
        Frame f;
        f.face(10, 20, 40);
        feed(a, f);
        EXPECT_EQ(a.n_faces, 0);
    }
}

TEST(VectorDistance, Table) {
    const float a3[] = {1, 2, 3}, b3[] = {2, 4, 6}, c3[] = {3, 2, 1};
    const float a2[] = {0, 0}, b2[] = {3, 4};
    StdCorrelationDistance corr(3);
    EXPECT_NEAR(corr.distance(a3, b3), 0, 1e-6);
    EXPECT_NEAR(corr.distance(a3, c3), 2, 1e-6);
    const float flat[] = {5, 5, 5};
    EXPECT_TRUE(std::isnan(corr.distance(a3, flat)));
    EXPECT_FLOAT_EQ(EuclideanDistance(2).distance(a2, b2), 5);
    EXPECT_FLOAT_EQ(L1Distance(2).distance(a2, b2), 7);
    EXPECT_FALSE(corr.verbose);
    corr.setBoolOption("verbose", true);
    EXPECT_TRUE(corr.verbose);
}
