// Phaser loads a sheet with its atlas (window.CHECK, written by BrowserClientTest.cpp)
// and draws every frame of one animation, each at the centre of a cell of the view's
// size, with no smoothing; the canvas must equal the frames cut from the sheet by the
// documented layout and put where the view had them. The verdict goes into #result.
(function () {
  const c = window.CHECK;
  const say = (text) => { document.getElementById('result').textContent = text; };
  window.onerror = (message) => say('fail: ' + message);
  const keys = c.atlas.animations[c.animation];
  const width = c.view * keys.length;
  new Phaser.Game({
    type: Phaser.CANVAS, width: width, height: c.view, transparent: true, pixelArt: true,
    banner: false, audio: {noAudio: true},
    scene: {
      preload() { this.load.atlas('sheet', c.sheet, c.atlas); },
      create() {
        keys.forEach((key, i) => this.add.image(i * c.view + c.view / 2, c.view / 2, 'sheet', key));
        this.game.events.once('postrender', () => {
          const drawn = this.game.canvas.getContext('2d').getImageData(0, 0, width, c.view).data;
          const wanted = document.createElement('canvas').getContext('2d');
          wanted.canvas.width = width;
          wanted.canvas.height = c.view;
          const sheet = this.textures.get('sheet').getSourceImage();
          const [w, h] = [c.frameWidth, c.frameHeight];
          keys.forEach((key, f) => wanted.drawImage(sheet, f % c.columns * w, Math.floor(f / c.columns) * h, w, h,
                                                    f * c.view + (c.view - w) / 2, (c.view - h) / 2, w, h));
          const expected = wanted.getImageData(0, 0, width, c.view).data;
          const wrong = expected.findIndex((v, i) => v !== drawn[i]);
          say(wrong < 0 ? 'ok ' + keys.length + ' frames'
                        : 'fail: pixel ' + Math.floor(wrong / 4) % width + ',' +
                              Math.floor(wrong / 4 / width) + ' differs');
        });
      },
    },
  });
})();
