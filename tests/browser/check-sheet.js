// Loads a sprite sheet and its atlas with Phaser, draws every frame of one animation side
// by side (each at the centre of a cell of the untrimmed frame size, so the atlas's pivot,
// trim and rectangles decide where its pixels land) with no smoothing, and compares the
// canvas with the expected picture byte for byte. The page the browser test writes sets
// window.CHECK = {sheet, atlas, expected, animation, cellWidth, cellHeight, cells}; the
// verdict goes into <pre id="result">: "ok N frames" or "fail: what".
(function () {
  const c = window.CHECK;
  const say = (text) => {
    document.getElementById('result').textContent = text;
  };
  window.onerror = (message) => say('fail: ' + message);
  const width = c.cellWidth * c.cells;
  const height = c.cellHeight;

  function compare(scene, frames) {
    const drawn = scene.game.canvas.getContext('2d').getImageData(0, 0, width, height).data;
    const source = scene.textures.get('expected').getSourceImage();
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    context.drawImage(source, 0, 0);
    const wanted = context.getImageData(0, 0, width, height).data;
    let wrong = 0;
    let first = '';
    for (let i = 0; i < wanted.length; i += 4) {
      for (let k = 0; k < 4; ++k) {
        if (drawn[i + k] !== wanted[i + k]) {
          if (wrong++ === 0) {
            const p = i / 4;
            first = 'pixel ' + (p % width) + ',' + Math.floor(p / width) + ' is ' +
                    Array.from(drawn.slice(i, i + 4)) + ', wanted ' +
                    Array.from(wanted.slice(i, i + 4));
          }
          break;
        }
      }
    }
    say(wrong === 0 ? 'ok ' + frames + ' frames'
                    : 'fail: ' + wrong + ' pixels differ, the first ' + first);
  }

  new Phaser.Game({
    type: Phaser.CANVAS,
    width: width,
    height: height,
    transparent: true,
    pixelArt: true,
    banner: false,
    audio: {noAudio: true},
    scene: {
      preload() {
        this.load.atlas('sheet', c.sheet, c.atlas);
        this.load.image('expected', c.expected);
      },
      create() {
        // The animation as Aseprite's frame tags give it (meta.frameTags).
        const made = this.anims.createFromAseprite('sheet');
        const animation = made.find((a) => a.key === c.animation);
        if (!animation) {
          say('fail: no animation ' + c.animation + ' among ' + made.map((a) => a.key));
          return;
        }
        // Frame keys in the order of the atlas's own "animations" list.
        const keys = animation.frames.map((f) => f.textureFrame);
        if (JSON.stringify(keys) !== JSON.stringify(c.atlas.animations[c.animation])) {
          say('fail: the frame tags give ' + keys + ', the animation lists ' +
              c.atlas.animations[c.animation]);
          return;
        }
        keys.forEach((key, i) => {
          this.add.image(i * c.cellWidth + c.cellWidth / 2, c.cellHeight / 2, 'sheet', key);
        });
        this.game.events.once('postrender', () => compare(this, keys.length));
      },
    },
  });
})();
