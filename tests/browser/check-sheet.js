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
        // The animation as the atlas lists it, made into a Phaser animation as a game
        // would; Aseprite's frame tags must name the same frames, in the frames' order.
        const listed = c.atlas.animations[c.animation] || [];
        const animation = this.anims.create({
          key: c.animation,
          frames: listed.map((frame) => ({key: 'sheet', frame: frame})),
        });
        const keys = animation.frames.map((f) => f.textureFrame);
        const tag = c.atlas.meta.frameTags.find((t) => t.name === c.animation);
        const tagged = tag ? Object.keys(c.atlas.frames).slice(tag.from, tag.to + 1) : [];
        if (keys.length === 0 || JSON.stringify(keys) !== JSON.stringify(tagged)) {
          say('fail: the animation has ' + keys + ', its frame tag ' + tagged);
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
